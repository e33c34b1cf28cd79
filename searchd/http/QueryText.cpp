#include "searchd/http/QueryText.h"

#include "core/TextHelpers.h"
#include "platform/Cp1252.h"

#include <QStringDecoder>
#include <algorithm>

namespace QueryText {

namespace {

// The byte of the escape at i, or -1 when bytes[i..i+2] is not one.
int escapeAt(QByteArrayView bytes, qsizetype i) {
    if (bytes[i] != '%' || i + 2 >= bytes.size())
        return -1;
    const int high = HexDigitValue(bytes[i + 1]);
    const int low = HexDigitValue(bytes[i + 2]);
    return (high < 0 || low < 0) ? -1 : high * 16 + low;
}

bool hasControlCharacter(const QString& text) {
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.unicode() < 0x20 || c.unicode() == 0x7F ||
               (c.unicode() >= 0x80 && c.unicode() <= 0x9F);
    });
}

QByteArray escapeByte(unsigned char byte) {
    static const char kHex[] = "0123456789ABCDEF";
    const char escaped[3] = {'%', kHex[byte >> 4], kHex[byte & 0x0F]};
    return QByteArray(escaped, 3);
}

} // namespace

Target splitTarget(QByteArrayView target) {
    const qsizetype mark = target.indexOf('?');
    if (mark < 0)
        return {target.toByteArray(), {}};
    return {target.first(mark).toByteArray(), target.sliced(mark + 1).toByteArray()};
}

std::optional<QByteArray> openEndedValue(QByteArrayView query, QByteArrayView name,
                                         const QList<QByteArray>& trailingKeys,
                                         QMap<QByteArray, QByteArray>* trailing) {
    const QByteArray key = name.toByteArray() + '=';
    qsizetype start = query.startsWith(key) ? 0 : -1;
    if (start < 0) {
        const qsizetype inner = query.indexOf(QByteArray('&' + key));
        if (inner < 0)
            return std::nullopt;
        start = inner + 1;
    }
    QByteArray value = query.sliced(start + key.size()).toByteArray();
    for (;;) {
        const qsizetype amp = value.lastIndexOf('&');
        const qsizetype eq = value.indexOf('=', amp + 1);
        if (amp < 0 || eq < 0 || !trailingKeys.contains(value.mid(amp + 1, eq - amp - 1)))
            break;
        if (trailing)
            trailing->insert(value.mid(amp + 1, eq - amp - 1), value.mid(eq + 1));
        value.truncate(amp);
    }
    return value;
}

QByteArray percentDecode(QByteArrayView bytes, bool plusIsSpace) {
    QByteArray out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const int escaped = escapeAt(bytes, i);
        if (escaped >= 0) {
            out.append(static_cast<char>(escaped));
            i += 2;
        } else {
            out.append(plusIsSpace && bytes[i] == '+' ? ' ' : bytes[i]);
        }
    }
    return out;
}

std::optional<QByteArray> strictPercentDecode(QByteArrayView bytes) {
    QByteArray out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '%') {
            out.append(bytes[i]);
            continue;
        }
        const int escaped = escapeAt(bytes, i);
        if (escaped < 0)
            return std::nullopt;
        out.append(static_cast<char>(escaped));
        i += 2;
    }
    return out;
}

std::optional<QString> decodeUtf8(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError() || hasControlCharacter(text))
        return std::nullopt;
    return text;
}

std::optional<QString> decodeText(QByteArrayView bytes) {
    if (auto utf8 = decodeUtf8(bytes))
        return utf8;
    const QString text = Cp1252::toUnicode(bytes);
    if (hasControlCharacter(text))
        return std::nullopt;
    return text;
}

QStringList searchWords(const QString& text) {
    QStringList words;
    QString word;
    for (const QChar c : text) {
        if (c.isLetterOrNumber() || c.isMark()) {
            word.append(c);
        } else if (!word.isEmpty()) {
            words.append(word);
            word.clear();
        }
    }
    if (!word.isEmpty())
        words.append(word);
    return words;
}

QByteArray encodeValue(const QString& text) {
    QByteArray out;
    for (const char c : text.toUtf8()) {
        if (c == ' ')
            out.append('+');
        else if (c >= '0' && c <= '9')
            out.append(c);
        else
            out.append(escapeByte(static_cast<unsigned char>(c)));
    }
    return out;
}

QByteArray encodePath(const QString& path) {
    QByteArray out;
    for (const char c : path.toUtf8()) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                           c == '/';
        out.append(plain ? QByteArray(1, c) : escapeByte(static_cast<unsigned char>(c)));
    }
    return out;
}

} // namespace QueryText
