#include "searchd/pages/SongSearch.h"

#include "searchd/index/ServiceIndex.h"

SongSearch::SongSearch(FoundFiles& found, ServiceIndex& index) : m_found(found), m_index(index) {}

QList<FoundFile> SongSearch::bestFirst(const QStringList& words, const FileFilter& filter,
                                       int offset, int limit, bool newOnly) {
    if (offset >= kGroupedFiles)
        return m_found.search(words, filter, offset, limit);
    const QList<FoundFile> files = m_found.search(words, filter, 0, kGroupedFiles);
    SongGroups groups(files);
    QList<FoundFile> grouped;
    if (newOnly) {
        groups.markLibrary(libraryCopies(words));
        for (const Song& song : groups.songs())
            if (!song.inLibrary)
                grouped += song.sources;
    } else {
        grouped = groups.bestFirst();
    }
    QList<FoundFile> page = grouped.mid(offset, limit);
    const int left = limit - static_cast<int>(page.size());
    if (left > 0 && files.size() == kGroupedFiles)
        page += m_found.search(words, filter, kGroupedFiles, left);
    return page;
}

// The library's copies count whatever the filter shows: a copy below the minimum bitrate is
// still had.
QList<FoundFile> SongSearch::libraryCopies(const QStringList& words) {
    QList<FoundFile> library;
    for (const IndexedFile& file : m_index.searchLibrary(words, 0, kGroupedFiles))
        library.append({true, file, {}});
    return library;
}

SongPage SongSearch::songs(const QStringList& words, const FileFilter& filter, int offset,
                           int limit) {
    SongPage page;
    const QList<FoundFile> files = m_found.search(words, filter, 0, kGroupedFiles);
    page.files = files.size() < kGroupedFiles ? static_cast<int>(files.size())
                                              : m_found.count(words, filter);
    page.allGrouped = page.files <= kGroupedFiles;
    SongGroups groups(files);
    groups.markLibrary(libraryCopies(words));
    const QList<Song> songs = groups.songs();
    page.total = static_cast<int>(songs.size());
    page.songs = songs.mid(offset, limit);
    return page;
}
