// Arbitrary bytes as a robots.txt, asked about paths cut from the same bytes: no crash, and
// the crawl delay stays within its bounds.
#include "crawl/RobotsRules.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const RobotsRules rules = RobotsRules::parse(bytes);
    if (rules.crawlDelaySeconds() < 0 || rules.crawlDelaySeconds() > RobotsRules::kMaxCrawlDelay)
        std::abort();
    if (!rules.allows("/robots.txt"))
        std::abort();
    for (const QByteArray& line : bytes.split('\n'))
        rules.allows('/' + line.left(256));
    return 0;
}
