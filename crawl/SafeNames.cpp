#include "crawl/SafeNames.h"

#include <QStringDecoder>

namespace {

bool isControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

} // namespace

namespace SafeNames {

std::optional<QString> fromUtf8(QByteArrayView bytes) {
    if (bytes.isEmpty() || bytes.size() > kMaxNameBytes || bytes == "." || bytes == "..")
        return std::nullopt;
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless |
                                                       QStringConverter::Flag::ConvertInitialBom);
    const QString name = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    for (const QChar c : name) {
        if (isControl(c.unicode()) || c == u'/' || c == u'\\')
            return std::nullopt;
    }
    return name;
}

bool isDots(QByteArrayView bytes) {
    return bytes == "." || bytes == "..";
}

bool isSafe(const QString& name) {
    // Lone surrogates make no valid UTF-8; toUtf8 would turn them into replacement marks.
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        if (c.isHighSurrogate() && i + 1 < name.size() && name.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            return false;
    }
    const QByteArray bytes = name.toUtf8();
    return fromUtf8(bytes).has_value();
}

} // namespace SafeNames
