// Arbitrary bytes as an FTP or SMB listing, read by the program's listing scrapers.
#include "core/HitRecords.h"
#include "core/TextHelpers.h"
#include "search/ListingScraper.h"

#include <cstddef>
#include <cstdint>

namespace {

void check(const QList<QByteArray>& lines, const QList<QByteArray>& records) {
    // At most one record per line (a file named "." or ".." gives none), each with its four
    // fields.
    if (records.size() > lines.size())
        __builtin_trap();
    for (const QByteArray& record : records) {
        if (record.count('\t') < 3 || ListingRecord::fromLine(record).line() != record)
            __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QList<QByteArray> lines =
        SplitLines(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    unsigned state = unsigned(size);
    const RandomIndex random = [&](int n) {
        state = state * 1103515245u + 12345u;
        return int((state >> 8) % unsigned(n));
    };
    check(lines, ScrapeFtpListing(lines, random));
    check(lines, ScrapeSmbListing(lines, random));
    return 0;
}
