// Arbitrary bytes as a web server's folder listing (HTML and JSON) and as an FTP server's
// MLSD and LIST replies: every entry is a safe name, at most once, and a listing never holds
// more than the entry limit.
#include "crawl/FtpListing.h"
#include "crawl/ListingPages.h"
#include "crawl/SafeNames.h"

#include <QSet>
#include <cstdint>
#include <cstdlib>

namespace {

void check(const ListingRead& read, bool web) {
    if (read.entries.size() > ListingCollector::kMaxEntries)
        std::abort();
    QSet<QString> names;
    for (const RemoteEntry& entry : read.entries) {
        if (!SafeNames::isSafe(entry.name) || names.contains(entry.name) || entry.size < -1 ||
            (entry.folder && entry.size != -1))
            std::abort();
        if (web && (entry.url.host() != QLatin1String("127.0.0.1") || entry.url.hasQuery()))
            std::abort();
        names.insert(entry.name);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QUrl page(QStringLiteral("http://127.0.0.1:8080/music/"));
    check(ListingPages::read(bytes, "text/html", page), true);
    check(ListingPages::read(bytes, "application/json", page), true);
    check(FtpListing::readMlsd(bytes), false);
    check(FtpListing::readList(bytes), false);
    return 0;
}
