#pragma once

#include "searchd/pages/FoundFiles.h"
#include "searchd/pages/SongGroups.h"

#include <QList>
#include <QStringList>

class ServiceIndex;

// One page of songs, and how many there are.
struct SongPage {
    QList<Song> songs;
    int total = 0;          // songs among the grouped files
    int files = 0;          // files that match
    bool allGrouped = true; // false: only the first kGroupedFiles of them were grouped
};

// Searches by song: the files that FoundFiles finds, grouped into songs (SongGroups). A
// search groups at most its first kGroupedFiles files, so that every page of it is cut from
// the same list; past them the files follow in the search's order.
class SongSearch {
public:
    static constexpr int kGroupedFiles = 1000;

    SongSearch(FoundFiles& found, ServiceIndex& index);

    // The files in the search's order, with each song's sources together, best first. With
    // newOnly the songs the library holds at the same or better quality are left out.
    QList<FoundFile> bestFirst(const QStringList& words, const FileFilter& filter, int offset,
                               int limit, bool newOnly = false);
    // Songs offset to offset + limit, marked where the library already holds them.
    SongPage songs(const QStringList& words, const FileFilter& filter, int offset, int limit);

private:
    QList<FoundFile> libraryCopies(const QStringList& words);

    FoundFiles& m_found;
    ServiceIndex& m_index;
};
