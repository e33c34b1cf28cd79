#pragma once

#include <QByteArray>
#include <QList>

// Reading a server's reply header: plain functions over bytes, free of sockets and state,
// so that a reply can be fed to them cut anywhere.
namespace HttpReply {

// The longest header line the client takes; a longer one is refused.
constexpr int kMaxLineLength = 8192;
// The header block of one reply may not grow beyond these; a flood of lines fails.
constexpr int kMaxHeaderBytes = 256 * 1024;
constexpr int kMaxHeaderLines = 1000;

// Line: a complete line; NeedMore: wait for more bytes; TooLong: maxLength bytes without a line
// feed; HasZero: a zero byte comes before the line feed (no header line may hold one).
enum class LineStatus { Line, NeedMore, TooLong, HasZero };

struct LineCut {
    LineStatus status = LineStatus::NeedMore;
    int length = 0;   // the line without its CR LF
    int consumed = 0; // the line with its line end: what to remove from the front
};

// The first complete line at the front of size bytes. A line ends at LF, a CR right before
// it is dropped. A zero byte before the line feed is HasZero. Without a line feed the
// answer is NeedMore, or TooLong once maxLength bytes wait.
LineCut NextLine(const char* data, int size, int maxLength = kMaxLineLength);

// A reply that starts with "<HTML>" (any case) has no header at all.
bool IsHeaderlessStart(const QByteArray& line);

struct HeaderLine {
    enum Kind { Status, Field, Other };
    Kind kind = Other;
    QByteArray name;  // Field: the name, lower-cased; Status: the code's three digits
    QByteArray value; // Field: the value without the blanks around it; Status: reason
};

// "HTTP/x.y NNN reason" (x, y and N digits; the reason may be missing) is a status line;
// "Name: value" is a field, whose value loses the blanks and tabs around it, so "Name:value"
// reads whole; anything else is only recorded.
HeaderLine ParseHeaderLine(const QByteArray& line);

// A Content-Length value: decimal digits only, within 64 bits, blanks around allowed;
// -1 for anything else (a sign, letters, an empty value, an overflow).
qint64 ContentLengthValue(const QByteArray& value);

// The value of the first field of that name (lower case) among a reply's header lines,
// trimmed; empty when there is none.
QByteArray FieldValue(const QList<QByteArray>& headerLines, const QByteArray& name);

// The request target as it goes on the request line: bytes at or below 0x20 and at or above
// 0x7F become %XX; everything else, '%' of an escape already made included, stays.
QByteArray EncodeRequestTarget(const QByteArray& target);

} // namespace HttpReply
