#include "download/RangeReply.h"

#include "core/TextHelpers.h"
#include "net/HttpReply.h"

namespace RangeReply {

std::optional<ContentRange> parseContentRange(const QByteArray& value) {
    const QByteArray text = value.trimmed();
    if (!text.toLower().startsWith("bytes "))
        return std::nullopt;
    const QByteArray range = text.mid(6).trimmed();
    const qsizetype dash = range.indexOf('-');
    const qsizetype slash = range.indexOf('/');
    if (dash < 0 || slash < dash)
        return std::nullopt;
    const auto first = DecimalNumber(range.left(dash));
    const auto last = DecimalNumber(range.mid(dash + 1, slash - dash - 1));
    const auto total = DecimalNumber(range.mid(slash + 1));
    if (!first || !last || !total || *first > *last || *last >= *total)
        return std::nullopt;
    return ContentRange{*first, *last, *total};
}

QByteArray ifRangeValidator(const QByteArray& eTag, const QByteArray& lastModified) {
    if (!eTag.isEmpty() && !eTag.startsWith("W/"))
        return eTag;
    return lastModified;
}

QList<QByteArray> requestHeaders(qint64 from, const QByteArray& ifRange) {
    if (from <= 0)
        return {};
    QList<QByteArray> lines{"Range: bytes=" + QByteArray::number(from) + '-'};
    if (!ifRange.isEmpty())
        lines.append("If-Range: " + ifRange);
    return lines;
}

Use judge(const Asked& asked, int status, const QList<QByteArray>& headerLines) {
    if (status >= 400)
        return Use::Reject;
    if (asked.from == 0 || status == 200)
        return Use::Whole;
    if (status != 206)
        return Use::Reject;
    const auto range = parseContentRange(HttpReply::FieldValue(headerLines, "content-range"));
    if (!range || range->first != asked.from || range->last != range->total - 1)
        return Use::Reject;
    if (asked.total >= 0 && range->total != asked.total)
        return Use::Reject;
    const QByteArray eTag = HttpReply::FieldValue(headerLines, "etag");
    if (!asked.eTag.isEmpty() && !eTag.isEmpty() && eTag != asked.eTag)
        return Use::Reject;
    // A server or proxy that ignored If-Range may send any version's bytes; only the
    // validator itself ties them to the file on disk.
    if (!asked.ifRange.isEmpty() && eTag != asked.ifRange &&
        HttpReply::FieldValue(headerLines, "last-modified") != asked.ifRange)
        return Use::Untied;
    return Use::Append;
}

} // namespace RangeReply
