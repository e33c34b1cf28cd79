// Arbitrary bytes as the parts of a request the search service reads: the target, its
// query, the search words, the Range header, and the header as the gate checks it.
#include "searchd/http/ByteRange.h"
#include "searchd/http/QueryText.h"
#include "searchd/http/RequestHead.h"

#include <cstdint>
#include <cstdlib>

using namespace QueryText;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const Target target = splitTarget(bytes);
    QMap<QByteArray, QByteArray> trailing;
    (void)openEndedValue(target.query, "searchwords", {"page", "leech"}, &trailing);
    (void)percentDecode(bytes, true);
    (void)strictPercentDecode(bytes);
    if (const auto text = decodeText(bytes))
        (void)searchWords(*text);
    (void)decodeUtf8(bytes);

    for (const qint64 fileSize : {qint64(0), qint64(1), qint64(1000), qint64(1) << 40}) {
        const ByteRange range = ByteRange::parse(bytes, fileSize);
        if (range.kind == ByteRange::Kind::Part &&
            (range.first < 0 || range.length <= 0 || range.first + range.length > fileSize))
            std::abort();
    }

    std::string head(reinterpret_cast<const char*>(data), size);
    head += "\r\n\r\n"; // the gate checks whole headers only
    const std::string before = head;
    const RequestHead checked = RequestHead::check(head);
    if (checked.headerEnd == 0 || checked.headerEnd > head.size() || head.size() > before.size() ||
        head.substr(checked.headerEnd) !=
            before.substr(before.size() - (head.size() - checked.headerEnd)))
        std::abort(); // only header lines may go, never what follows the header
    return 0;
}
