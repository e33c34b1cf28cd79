// Arbitrary bytes as a chunked reply body. The first byte chooses where the body is cut in
// two: both pieces must decode to what the whole body decodes to, the data can never be
// longer than the body, and nothing may crash.
#include "net/ChunkedDecoder.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const auto* body = reinterpret_cast<const char*>(data + 1);
    const qint64 length = qint64(size - 1);
    const qint64 cut = length == 0 ? 0 : data[0] % (length + 1);

    ChunkedDecoder whole;
    QByteArray wholeData;
    const ChunkedDecoder::Status wholeStatus = whole.Feed(body, length, wholeData);

    ChunkedDecoder split;
    QByteArray splitData;
    split.Feed(body, cut, splitData);
    const ChunkedDecoder::Status splitStatus = split.Feed(body + cut, length - cut, splitData);

    if (wholeStatus != splitStatus || wholeData != splitData || whole.Error() != split.Error())
        std::abort();
    if (wholeData.size() > length)
        std::abort();
    return 0;
}
