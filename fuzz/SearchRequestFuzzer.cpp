// Arbitrary bytes as the parts of a request the search service reads: the target, its
// query, the search words, the Range header, and the header's fields as the service checks them.
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

    // Each line a field, its name up to the first colon.
    RequestHead::Fields fields;
    for (const QByteArray& line : bytes.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        fields.emplace_back(line.left(colon < 0 ? line.size() : colon).toStdString(),
                            colon < 0 ? std::string() : line.mid(colon + 1).toStdString());
    }
    const RequestHead checked = RequestHead::check(fields);
    if (checked.refusal != 0 && checked.refusal != 400 && checked.refusal != 411)
        std::abort();
    if (!checked.range.empty() && checked.range.rfind("bytes=", 0) != 0)
        std::abort(); // a Range passed on is always one of byte ranges
    return 0;
}
