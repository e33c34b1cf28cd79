#include "download/RangeReply.h"

#include "core/TextHelpers.h"
#include "net/HttpReply.h"

namespace RangeReply {

std::optional<ContentRange> parseContentRange(const QByteArray& value) {
    const QByteArray text = value.trimmed();
    if (!text.toLower().startsWith("bytes "))
        return std::nullopt;
    const QByteArray spec = text.mid(6).trimmed();
    const qsizetype dash = spec.indexOf('-');
    const qsizetype slash = spec.indexOf('/');
    if (dash < 0 || slash < dash)
        return std::nullopt;
    const auto first = DecimalNumber(spec.left(dash));
    const auto last = DecimalNumber(spec.mid(dash + 1, slash - dash - 1));
    const auto total = DecimalNumber(spec.mid(slash + 1));
    if (!first || !last || !total || *first > *last || *last >= *total)
        return std::nullopt;
    return ContentRange{*first, *last, *total};
}

QList<QByteArray> requestHeaders(qint64 from, const QByteArray& eTag,
                                 const QByteArray& lastModified) {
    if (from <= 0)
        return {};
    QList<QByteArray> lines{"Range: bytes=" + QByteArray::number(from) + '-'};
    if (!eTag.isEmpty() && !eTag.startsWith("W/"))
        lines.append("If-Range: " + eTag);
    else if (!lastModified.isEmpty())
        lines.append("If-Range: " + lastModified);
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
    return Use::Append;
}

} // namespace RangeReply
