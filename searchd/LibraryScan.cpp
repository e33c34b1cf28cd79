#include "searchd/LibraryScan.h"

#include "crawl/FileHeadReader.h"
#include "searchd/FileTags.h"
#include "searchd/LibraryFolder.h"
#include "searchd/ServiceIndex.h"

#include <QFile>

namespace {

// What a library file's head tells of its quality, as the crawler reads a remote file's.
FrameHeader qualityOf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        FrameHeader unread;
        unread.error = "unreadable file";
        unread.quality.version = AudioQuality::kCurrentVersion;
        return unread;
    }
    QByteArray head = file.read(FileHead::kFirstRead);
    const qint64 wanted = FileHeadReader::bytesWanted(head);
    if (wanted > head.size())
        head += file.read(wanted - head.size());
    FileHead found = FileHeadReader::read(head, file.size(), QByteArray());
    FileHeadReader::judge(head, found);
    return found.frame;
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
        const QString path = library.root() + QLatin1Char('/') + entry.path;
        const FileTags tags = FileTags::read(path);
        store.append(
            {{entry.path, entry.size, tags.artist, tags.title, qualityOf(path)}, entry.modified});
    }
    const QStringList drop = known.keys();
    index.changeLibrary(store, drop);
    return {static_cast<int>(entries.size()), static_cast<int>(store.size()),
            static_cast<int>(drop.size())};
}
