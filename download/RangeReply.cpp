#include "download/RangeReply.h"

#include "core/TextHelpers.h"

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

QByteArray headerValue(const QList<QByteArray>& headerLines, const QByteArray& name) {
    for (const QByteArray& line : headerLines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name)
            return line.mid(colon + 1).trimmed();
    }
    return QByteArray();
}

Use judge(const Asked& asked, int status, const QList<QByteArray>& headerLines) {
    if (status >= 400)
        return Use::Reject;
    if (asked.from == 0 || status == 200)
        return Use::Whole;
    if (status != 206)
        return Use::Reject;
    const auto range = parseContentRange(headerValue(headerLines, "content-range"));
    if (!range || range->first != asked.from || range->last != range->total - 1)
        return Use::Reject;
    if (asked.total >= 0 && range->total != asked.total)
        return Use::Reject;
    const QByteArray eTag = headerValue(headerLines, "etag");
    if (!asked.eTag.isEmpty() && !eTag.isEmpty() && eTag != asked.eTag)
        return Use::Reject;
    return Use::Append;
}

} // namespace RangeReply
