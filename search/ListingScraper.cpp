#include "search/ListingScraper.h"

#include "core/HitRecords.h"
#include "core/HitText.h"

namespace {

using HitRecords::AfterTabs;
using HitRecords::Field;

using HostLineTest = bool (*)(const QByteArray& line);

bool holdsColon(const QByteArray& line) {
    return line.contains(':');
}

bool startsWithDigit(const QByteArray& line) {
    return !line.isEmpty() && line[0] >= '0' && line[0] <= '9';
}

// "." and ".." name folders, not files: fetched, they would bring the server's listing.
bool namesAFolder(const QByteArray& name) {
    return name == "." || name == "..";
}

QList<QByteArray> flatRecords(const QList<QByteArray>& lines, HostLineTest isHostLine,
                              EngineCharset charset) {
    // TAB, '\\' and the host line's ':' or digit are ASCII, so the lines split alike in both.
    const auto text = [charset](const QByteArray& bytes) {
        return charset == EngineCharset::Utf8 ? HitText::fromUtf8(bytes) : bytes;
    };
    QList<QByteArray> records;
    records.reserve(lines.size());
    QByteArray host;
    QByteArray folder;
    for (const QByteArray& line : lines) {
        if (isHostLine(line)) {
            ListingRecord record = ListingRecord::fromLine(line);
            record.host = host = text(record.host);
            record.folder = folder = text(record.folder);
            record.name = text(record.name);
            if (!namesAFolder(record.name))
                records.append(record.line());
            continue;
        }
        qsizetype start = 0;
        while (start < line.size() && line[start] == '\t')
            ++start;
        QByteArray rest = line.mid(start);
        if (rest.startsWith('\\')) {
            folder = text(Field(rest, 0));
            rest = AfterTabs(rest, 1);
        }
        const QByteArray name = text(Field(rest, 0));
        if (!namesAFolder(name))
            records.append(ListingRecord{host, folder, name, AfterTabs(rest, 1)}.line());
    }
    return records;
}

// Picks one of the remaining records at random again and again. The last remaining record
// fills the gap of the one taken, so a listing of any length is shuffled in linear time.
QList<QByteArray> inRandomOrder(QList<QByteArray> remaining, const RandomIndex& random) {
    QList<QByteArray> ordered;
    ordered.reserve(remaining.size());
    while (!remaining.isEmpty()) {
        const int pick = random(static_cast<int>(remaining.size()));
        ordered.append(std::move(remaining[pick]));
        remaining[pick] = std::move(remaining.back());
        remaining.removeLast();
    }
    return ordered;
}

} // namespace

QList<QByteArray> ScrapeFtpListing(const QList<QByteArray>& lines, const RandomIndex& random,
                                   EngineCharset charset) {
    return inRandomOrder(flatRecords(lines, holdsColon, charset), random);
}

QList<QByteArray> ScrapeSmbListing(const QList<QByteArray>& lines, const RandomIndex& random,
                                   EngineCharset charset) {
    return inRandomOrder(flatRecords(lines, startsWithDigit, charset), random);
}
