// Arbitrary bytes as the parts of a request the search service reads: the target, its
// query, the search words and the Range header.
#include "searchd/ByteRange.h"
#include "searchd/QueryText.h"

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
    return 0;
}
