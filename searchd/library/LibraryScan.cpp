#include "searchd/library/LibraryScan.h"

#include "crawl/FolderPlan.h"
#include "searchd/LibraryFolder.h"
#include "searchd/index/ServiceIndex.h"
#include "searchd/library/FileTags.h"

#include <QFile>
#include <atomic>
#include <thread>
#include <vector>

namespace {

// What a library file's head tells of its quality: the crawler's reads of a remote file,
// made on the local one.
FrameHeader qualityOf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        FrameHeader unread;
        unread.error = "unreadable file";
        unread.quality.version = AudioQuality::kCurrentVersion;
        return unread;
    }
    HeadRead read(file.size());
    for (HeadRead::Range range = read.next(); range.count > 0; range = read.next()) {
        const qint64 at = range.offset < 0 ? file.size() - range.count : range.offset;
        read.add(range, file.seek(at) ? file.read(range.count) : QByteArray(), file.size());
    }
    return read.result().frame;
}

// Reads the quality of the files to store on every core: the first scan of a large library
// (or the first after a new quality reading) decodes the head of each of its files.
void readQuality(QList<LibraryChange>& store, const QString& root) {
    LibraryChange* const items = store.data(); // detached once, before the threads
    const qsizetype count = store.size();
    std::atomic<qsizetype> next = 0;
    const auto work = [&] {
        for (qsizetype i = next++; i < count; i = next++) {
            IndexedFile& file = items[i].file;
            file.frame = qualityOf(root + QLatin1Char('/') + file.path);
        }
    };
    std::vector<std::thread> threads(std::max(1u, std::thread::hardware_concurrency()));
    for (std::thread& thread : threads)
        thread = std::thread(work);
    for (std::thread& thread : threads)
        thread.join();
}

} // namespace

ScanSummary LibraryScan::run(ServiceIndex& index, const LibraryFolder& library) {
    const QList<LibraryEntry> entries = library.scan();
    QHash<QString, LibraryStamp> known = index.libraryStamps();
    QList<LibraryChange> store;
    for (const LibraryEntry& entry : entries) {
        const auto found = known.constFind(entry.path);
        const bool unchanged = found != known.cend() && found->size == entry.size &&
                               found->modified == entry.modified &&
                               found->qualityVersion == AudioQuality::kCurrentVersion;
        if (found != known.cend())
            known.erase(found);
        if (unchanged)
            continue;
        const FileTags tags = FileTags::read(library.root() + QLatin1Char('/') + entry.path);
        store.append({{entry.path, entry.size, tags.artist, tags.title, {}}, entry.modified});
    }
    readQuality(store, library.root());
    const QStringList drop = known.keys();
    index.changeLibrary(store, drop);
    return {static_cast<int>(entries.size()), static_cast<int>(store.size()),
            static_cast<int>(drop.size())};
}
