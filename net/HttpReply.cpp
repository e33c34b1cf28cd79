#include "net/HttpReply.h"

#include <algorithm>
#include <cstring>

namespace HttpReply {

LineCut NextLine(const char* data, int size, int maxLength) {
    LineCut cut;
    const char* zero = static_cast<const char*>(std::memchr(data, 0, size_t(size)));
    const int searchable = zero ? int(zero - data) : size;
    const char* lf = static_cast<const char*>(std::memchr(data, '\n', size_t(searchable)));
    if (!lf) {
        cut.status = zero                ? LineStatus::HasZero
                     : size >= maxLength ? LineStatus::TooLong
                                         : LineStatus::NeedMore;
        return cut;
    }
    const int lfAt = int(lf - data);
    cut.status = LineStatus::Line;
    cut.length = lfAt > 0 && data[lfAt - 1] == '\r' ? lfAt - 1 : lfAt;
    cut.consumed = lfAt + 1;
    return cut;
}

bool IsHeaderlessStart(const QByteArray& line) {
    return line.left(6).toUpper() == "<HTML>";
}

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// "HTTP/" digit "." digit, a blank, three digits, then the end or a blank.
bool IsStatusLine(const QByteArray& line) {
    return line.size() >= 12 && line.startsWith("HTTP/") && IsDigit(line[5]) && line[6] == '.' &&
           IsDigit(line[7]) && line[8] == ' ' && IsDigit(line[9]) && IsDigit(line[10]) &&
           IsDigit(line[11]) && (line.size() == 12 || line[12] == ' ');
}

// Optional white space around a field value is blanks and tabs only.
QByteArray TrimBlanks(const QByteArray& text) {
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && (text[from] == ' ' || text[from] == '\t'))
        ++from;
    while (to > from && (text[to - 1] == ' ' || text[to - 1] == '\t'))
        --to;
    return text.mid(from, to - from);
}

} // namespace

HeaderLine ParseHeaderLine(const QByteArray& line) {
    HeaderLine parsed;
    if (IsStatusLine(line)) {
        parsed.kind = HeaderLine::Status;
        parsed.name = line.mid(9, 3);
        parsed.value = line.mid(13);
        return parsed;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return parsed;
    parsed.kind = HeaderLine::Field;
    parsed.name = line.left(colon).toLower();
    parsed.value = TrimBlanks(line.mid(colon + 1));
    return parsed;
}

qint64 ContentLengthValue(const QByteArray& value) {
    const QByteArray digits = TrimBlanks(value);
    if (digits.isEmpty() || !std::all_of(digits.begin(), digits.end(), IsDigit))
        return -1;
    bool ok = false;
    const qint64 length = digits.toLongLong(&ok, 10);
    return ok ? length : -1;
}

QByteArray FieldValue(const QList<QByteArray>& headerLines, const QByteArray& name) {
    for (const QByteArray& line : headerLines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name)
            return line.mid(colon + 1).trimmed();
    }
    return QByteArray();
}

QByteArray EncodeRequestTarget(const QByteArray& target) {
    static const char kHex[] = "0123456789ABCDEF";
    QByteArray encoded;
    encoded.reserve(target.size());
    for (const char c : target) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte > 0x20 && byte < 0x7F) {
            encoded += c;
            continue;
        }
        encoded += '%';
        encoded += kHex[byte >> 4];
        encoded += kHex[byte & 0x0F];
    }
    return encoded;
}

} // namespace HttpReply
