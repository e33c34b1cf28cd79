#pragma once

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <optional>

// A search the user keeps: the people's page's words, kind, minimum bitrate and "Hide
// transcodes", run again after every crawl.
struct SavedSearch {
    qint64 id = 0;
    QString words;                        // as the user typed them, trimmed
    QString kind = QStringLiteral("all"); // all, library, http, ftp or smb
    int minBitrate = 0;                   // kbit/s; 0: any
    bool genuineOnly = false;             // files judged transcoded are left out
    QDateTime savedAt;                    // UTC
    QDateTime lastRun;                    // UTC; invalid before the first run

    // What makes two saved searches the same: the reduced words (IndexWords), kind, minimum
    // bitrate and the transcode switch. Empty when no word is left to search for.
    QString sameness() const;
};

// A file a saved search found, as it was when found: the list still names it after it is
// gone from its server.
struct SavedMatch {
    QString key;  // the file: "library\n" + path, or the crawled source's id + '\n' + path
    QString name; // as the pages show it
    QString url;  // its link when it was found
    QString kind; // library, http, https, ftp or smb
    qint64 size = 0;
    int bitrate = 0; // kbit/s (the average for ABR and VBR); 0 when unknown
    QString mode;    // CBR, ABR or VBR; empty when unknown
    QString verdict; // genuine, transcoded or unknown
    QDateTime foundAt;
    bool isNew = false; // found after the first run and not marked seen since

    bool operator==(const SavedMatch&) const = default;
};

// The saved searches and the matches each has found, kept in the service's index. Every
// call is one transaction; ids are never reused.
class SavedSearchStore {
public:
    static constexpr int kMaxSearches = 100;
    // Matches remembered per search: past this the oldest ones already seen are forgotten.
    static constexpr int kMaxMatches = 1000;

    enum class Added { Saved, Duplicate, Full };

    virtual ~SavedSearchStore() = default;

    // Keeps search (its id and savedAt are set) unless one the same is kept or
    // kMaxSearches are.
    virtual Added addSavedSearch(SavedSearch& search) = 0;
    virtual QList<SavedSearch> savedSearches() = 0; // oldest first
    virtual std::optional<SavedSearch> savedSearch(qint64 id) = 0;
    virtual bool removeSavedSearch(qint64 id) = 0; // false: no such search
    // Marks every match of the search seen; false: no such search.
    virtual bool markSavedSeen(qint64 id) = 0;

    // The keys of the matches remembered for the search.
    virtual QSet<QString> savedMatchKeys(qint64 id) = 0;
    // Adds the files a run found that were not remembered yet (new ones unless it is the
    // search's first run), forgets the oldest seen ones past kMaxMatches, and sets lastRun to
    // at. False when the search is gone.
    virtual bool recordSavedRun(qint64 id, const QList<SavedMatch>& found, const QDateTime& at) = 0;
    // The matches not seen yet, newest first.
    virtual QList<SavedMatch> newSavedMatches(qint64 id) = 0;
};
