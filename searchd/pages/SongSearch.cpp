#include "searchd/pages/SongSearch.h"

#include "searchd/index/ServiceIndex.h"

SongSearch::SongSearch(FoundFiles& found, ServiceIndex& index) : m_found(found), m_index(index) {}

QList<FoundFile> SongSearch::bestFirst(const QStringList& words, const FileFilter& filter,
                                       int offset, int limit) {
    if (offset >= kGroupedFiles)
        return m_found.search(words, filter, offset, limit);
    const QList<FoundFile> grouped =
        SongGroups(m_found.search(words, filter, 0, kGroupedFiles)).bestFirst();
    QList<FoundFile> page = grouped.mid(offset, limit);
    const int left = limit - static_cast<int>(page.size());
    if (left > 0 && grouped.size() == kGroupedFiles)
        page += m_found.search(words, filter, kGroupedFiles, left);
    return page;
}

SongPage SongSearch::songs(const QStringList& words, const FileFilter& filter, int offset,
                           int limit) {
    SongPage page;
    const QList<FoundFile> files = m_found.search(words, filter, 0, kGroupedFiles);
    page.files = files.size() < kGroupedFiles ? static_cast<int>(files.size())
                                              : m_found.count(words, filter);
    page.allGrouped = page.files <= kGroupedFiles;
    SongGroups groups(files);
    // The library's copies count whatever the filter shows: a copy below the minimum
    // bitrate is still had.
    QList<FoundFile> library;
    for (const IndexedFile& file : m_index.searchLibrary(words, 0, kGroupedFiles))
        library.append({true, file, {}});
    groups.markLibrary(library);
    const QList<Song> songs = groups.songs();
    page.total = static_cast<int>(songs.size());
    page.songs = songs.mid(offset, limit);
    return page;
}
