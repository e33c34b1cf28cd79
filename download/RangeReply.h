#pragma once

#include <QByteArray>
#include <QList>
#include <optional>

// The rules for continuing a file from the byte it ends at. A try asks for "bytes=N-" with
// the first reply's validator in If-Range; its reply is appended only when it is a 206 that
// starts at N, runs to the end, names the same total and carries the validator sent, so
// that the file on disk is never made of two versions. A 206 that cannot be tied to the
// bytes on disk that way is not used: the next try asks again for the last bytes on disk,
// which must come back unchanged. A 200 is the whole file again.
namespace RangeReply {

enum class Use { Whole, Append, Reject, Untied };

// What one try asked for: the first byte (0: the whole file, no Range sent), the total
// length known from an earlier reply (-1 when none), the ETag of the version on disk and
// the validator sent in If-Range (empty when none went).
struct Asked {
    qint64 from = 0;
    qint64 total = -1;
    QByteArray eTag;
    QByteArray ifRange;
};

struct ContentRange {
    qint64 first = 0;
    qint64 last = 0;
    qint64 total = 0;
};

// "bytes FIRST-LAST/TOTAL" with FIRST <= LAST < TOTAL; none for anything else.
std::optional<ContentRange> parseContentRange(const QByteArray& value);

// What may go into If-Range: a strong ETag, else Last-Modified (a weak ETag may not be used
// there); empty when neither is known.
QByteArray ifRangeValidator(const QByteArray& eTag, const QByteArray& lastModified);

// Range and If-Range lines for a try from byte from (none for 0).
QList<QByteArray> requestHeaders(qint64 from, const QByteArray& ifRange);

// What the reply with this status and these header lines is good for. A try from 0 takes
// any answer below 400 as the file, as a first request always has. Untied: a 206 that
// does not carry the validator sent in If-Range.
Use judge(const Asked& asked, int status, const QList<QByteArray>& headerLines);

} // namespace RangeReply
