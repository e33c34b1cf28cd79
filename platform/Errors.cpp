#include "platform/Errors.h"

std::optional<int> TryStrToInt(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text.at(i) == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    const bool hex = i < text.size() && text.at(i) == QLatin1Char('$');
    if (hex)
        ++i;
    if (i >= text.size())
        return std::nullopt;

    const unsigned base = hex ? 16 : 10;
    // Hex may use all 32 bits ($FFFFFFFF is -1); decimal must fit a signed integer.
    const quint64 limit = hex ? 0xFFFFFFFFull : (negative ? 2147483648ull : 2147483647ull);
    quint64 value = 0;
    for (; i < text.size(); ++i) {
        int digit = -1;
        const char16_t c = text.at(i).unicode();
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (hex && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (hex && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        if (digit < 0)
            return std::nullopt;
        value = value * base + static_cast<unsigned>(digit);
        if (value > limit)
            return std::nullopt;
    }
    if (hex) {
        const quint32 bits = static_cast<quint32>(value);
        return static_cast<qint32>(negative ? 0u - bits : bits);
    }
    const qint64 signedValue = negative ? -static_cast<qint64>(value) : static_cast<qint64>(value);
    return static_cast<int>(signedValue);
}

int StrToInt(const QString& text) {
    const std::optional<int> value = TryStrToInt(text);
    if (!value)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return *value;
}

void throwListIndexError(qsizetype index) {
    throw EListError(QStringLiteral("List index out of bounds (%1)").arg(index));
}
