#pragma once

#include "searchd/pages/FoundFiles.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// One song a search found, with every file of it: the library's copies and the crawled
// servers' ones.
struct Song {
    QString artist; // from the tags, else from the file name ("Artist - Title"); may be empty
    QString title;
    double durationSeconds = 0; // the best source's, else any source's; 0 when unknown
    QList<FoundFile> sources;   // best first
    int relevance = 0;          // where the best source stands in the search's order
    bool inLibrary = false;     // the library holds it at the same or better quality
    int libraryBitrate = 0;     // kbit/s of the best such library copy
};

// Groups found files into songs and ranks each song's sources.
//
// Two files are the same song when both carry artist and title tags and these are equal
// apart from case and blanks; otherwise when their cleaned file names are equal (see
// cleanedName; a tagged file also goes by "Artist - Title.mp3"). Either way their durations, when
// both are known, lie at most 2 s apart. A file joins the first song (in the search's order) it
// matches.
//
// A song's sources go genuine before unknown before transcoded, then the higher average
// bitrate first, then in the search's order. Songs go by where their best source stands in
// the search's order.
class SongGroups {
public:
    static constexpr double kDurationSlack = 2.0; // seconds

    // files in the search's order
    explicit SongGroups(const QList<FoundFile>& files);

    QList<Song> songs() const;
    // Every source of every song, song after song: the search's files with each song's
    // best source first.
    QList<FoundFile> bestFirst() const;

    // Marks the songs that the library holds at the same or better quality: a copy (from
    // library, or among the song's own sources) of the same song, its quality known and not
    // transcoded, its bitrate at least that of the song's best crawled source. A song only
    // the library holds is marked too.
    void markLibrary(const QList<FoundFile>& library);

    // The file name without folder, extension, leading track number, separators and case:
    // "01 - The Artist_-_Song.MP3" and "the artist song.mp3" clean alike.
    static QString cleanedName(const QString& path);
    // Artist and title apart from case and blanks; empty when either tag is missing.
    static QString tagKey(const FoundFile& file);
    // Whether a should come before b among a song's sources.
    static bool betterSource(const FoundFile& a, const FoundFile& b);

private:
    // What tells a file's song, worked out once a file: its tagKey, its cleaned names (its
    // own, and "Artist - Title.mp3" when tagged) and its duration (0 when unknown).
    struct Keys {
        QString tags;
        QStringList names;
        double durationSeconds = 0;
    };
    // A song with what tells its files: the first tagged source's tagKey, every source's
    // cleaned names, the first known duration, and each source's place in the search's order.
    struct Group {
        Song song;
        QString tags;
        QStringList names;
        double durationSeconds = 0;
        QList<int> places;
    };

    static Keys keysOf(const FoundFile& file);
    static bool matches(const Group& group, const Keys& keys);
    // The groups the file matches, in the order they were made.
    QList<int> matching(const Keys& keys) const;
    void add(int index, const FoundFile& file, const Keys& keys, int place);
    static void rank(Group& group);
    static void markHad(Song& song, const QList<FoundFile>& copies);

    QList<Group> m_groups;                         // in the order they were made
    QList<int> m_order;                            // m_groups by relevance
    QHash<QString, QList<int>> m_byTags, m_byName; // the groups with that tag key or name
};
