// Arbitrary text to SplitUrl (and the two header encoders): nothing may crash, and every
// part but a scheme the splitter supplies itself must come from the text.
#include "net/HeaderEncodings.h"
#include "net/SplitUrl.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    const UrlParts parts = SplitUrl(text);
    for (const QByteArray* part :
         {&parts.user, &parts.password, &parts.host, &parts.port, &parts.path}) {
        if (!text.contains(*part))
            std::abort();
    }
    if (parts.scheme != "http" && parts.scheme != "mailto" && !text.startsWith(parts.scheme))
        std::abort();

    const QByteArray encoded = Base64Encode(text);
    if (encoded.size() != (text.size() + 2) / 3 * 4)
        std::abort();
    if (size >= sizeof(double)) {
        double value = 0;
        std::memcpy(&value, data, sizeof value);
        if (FormatHttpDate(value).size() < 25) // longer only for years before 1000
            std::abort();
    }
    return 0;
}
