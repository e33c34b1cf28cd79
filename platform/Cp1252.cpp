#include "platform/Cp1252.h"

#include <array>

namespace Cp1252 {

namespace {

// 0x80-0x9F; zero marks the five codes Windows-1252 leaves undefined, which keep their
// Latin-1 control meaning.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char16_t decode(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F && kHigh[byte - 0x80] != 0)
        return kHigh[byte - 0x80];
    return byte;
}

char encode(char16_t unit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return static_cast<char>(unit);
    for (size_t i = 0; i < kHigh.size(); ++i) {
        if (kHigh[i] == unit)
            return static_cast<char>(0x80 + i);
    }
    if (unit >= 0x80 && unit <= 0x9F && kHigh[unit - 0x80] == 0)
        return static_cast<char>(unit);
    return '?';
}

} // namespace

QString toUnicode(QByteArrayView bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        out[i] = QChar(decode(static_cast<unsigned char>(bytes[i])));
    return text;
}

QByteArray fromUnicode(const QString& text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (ch.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            bytes.append('?');
            ++i;
            continue;
        }
        bytes.append(encode(ch.unicode()));
    }
    return bytes;
}

QByteArray toUtf8FileName(QByteArrayView bytes) {
    return toUnicode(bytes).toUtf8();
}

} // namespace Cp1252
