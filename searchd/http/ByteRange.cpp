#include "searchd/http/ByteRange.h"

#include "core/TextHelpers.h"

#include <QByteArray>
#include <optional>

namespace {

ByteRange whole(qint64 size) {
    return {ByteRange::Kind::Whole, 0, size};
}

} // namespace

ByteRange ByteRange::parse(QByteArrayView header, qint64 size) {
    const QByteArray text = header.toByteArray().trimmed();
    if (text.isEmpty() || !text.startsWith("bytes=") || text.contains(','))
        return whole(size);
    const QByteArray rangeText = text.mid(6).trimmed();
    const qsizetype dash = rangeText.indexOf('-');
    if (dash < 0)
        return whole(size);
    const auto from = DecimalNumber(QByteArrayView(rangeText).first(dash));
    const auto to = DecimalNumber(QByteArrayView(rangeText).sliced(dash + 1));
    if (!from) { // a suffix: the last *to bytes
        if (dash != 0 || !to)
            return whole(size);
        if (*to == 0 || size == 0)
            return {Kind::Unsatisfiable, 0, 0};
        const qint64 length = std::min(*to, size);
        return {Kind::Part, size - length, length};
    }
    if (dash + 1 < rangeText.size() && (!to || *to < *from))
        return whole(size);
    if (*from >= size)
        return {Kind::Unsatisfiable, 0, 0};
    const qint64 last = to ? std::min(*to, size - 1) : size - 1;
    return {Kind::Part, *from, last - *from + 1};
}
