// Arbitrary bytes as an FTP server's MLSD and LIST replies: every entry is a safe name, at
// most once, and a listing never holds more than the entry limit.
#include "crawl/FtpListing.h"
#include "crawl/SafeNames.h"

#include <QSet>
#include <cstdint>
#include <cstdlib>

namespace {

void check(const ListingRead& read) {
    if (read.entries.size() > ListingCollector::kMaxEntries)
        std::abort();
    QSet<QString> names;
    for (const RemoteEntry& entry : read.entries) {
        if (!SafeNames::isSafe(entry.name) || names.contains(entry.name) || entry.size < -1 ||
            (entry.folder && entry.size != -1))
            std::abort();
        names.insert(entry.name);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    check(FtpListing::readMlsd(bytes));
    check(FtpListing::readList(bytes));
    return 0;
}
