#include "searchd/LibraryScan.h"

#include "searchd/FileTags.h"
#include "searchd/LibraryFolder.h"
#include "searchd/ServiceIndex.h"

ScanSummary LibraryScan::run(ServiceIndex& index, const LibraryFolder& library) {
    const QList<LibraryEntry> entries = library.scan();
    QHash<QString, LibraryStamp> known = index.libraryStamps();
    QList<LibraryChange> store;
    for (const LibraryEntry& entry : entries) {
        const auto found = known.constFind(entry.path);
        const bool unchanged =
            found != known.cend() && found->size == entry.size && found->modified == entry.modified;
        if (found != known.cend())
            known.erase(found);
        if (unchanged)
            continue;
        const FileTags tags = FileTags::read(library.root() + QLatin1Char('/') + entry.path);
        store.append({{entry.path, entry.size, tags.artist, tags.title}, entry.modified});
    }
    const QStringList drop = known.keys();
    index.changeLibrary(store, drop);
    return {static_cast<int>(entries.size()), static_cast<int>(store.size()),
            static_cast<int>(drop.size())};
}
