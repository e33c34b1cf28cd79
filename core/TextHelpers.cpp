#include "core/TextHelpers.h"

namespace {

QByteArray shiftCodes(QByteArrayView text, int direction) {
    const auto n = static_cast<int>(text.size());
    QByteArray out(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool oddPosition = (i % 2) == 0; // positions count from 1
        const int shift = n + (oddPosition ? 56 : 45);
        const int code = static_cast<unsigned char>(text[i]);
        out[i] = static_cast<char>((code + direction * shift) & 0xFF);
    }
    return out;
}

} // namespace

QList<QByteArray> SplitLines(QByteArrayView bytes) {
    QList<QByteArray> lines;
    qsizetype start = 0;
    qsizetype i = 0;
    auto takeLine = [&](qsizetype end) {
        QByteArrayView line = bytes.sliced(start, end - start);
        if (const qsizetype zero = line.indexOf('\0'); zero >= 0)
            line = line.first(zero);
        lines.append(line.toByteArray());
    };
    while (i < bytes.size()) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            takeLine(i);
            i += (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < bytes.size())
        takeLine(bytes.size());
    return lines;
}

QByteArray DescrambleText(QByteArrayView text) {
    return shiftCodes(text, -1);
}

QByteArray ScrambleText(QByteArrayView text) {
    return shiftCodes(text, +1);
}

bool FitsOnOneLine(QByteArrayView scrambled) {
    return !scrambled.contains('\r') && !scrambled.contains('\n') && !scrambled.contains('\0');
}

std::optional<qint64> DecimalNumber(QByteArrayView text) {
    if (text.isEmpty() || text.size() > 18)
        return std::nullopt;
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
