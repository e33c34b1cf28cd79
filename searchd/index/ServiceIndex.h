#pragma once

#include "crawl/CrawlTypes.h"
#include "crawl/SourceLeases.h"
#include "searchd/ServiceError.h"
#include "searchd/index/IndexTypes.h"
#include "searchd/index/SavedSearchStore.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// Which engine keeps the index, and where.
struct IndexSettings {
    QString sqliteFile;  // the default engine: one SQLite file, nothing to set up
    QString postgresUrl; // when set, PostgreSQL: a libpq connection string or URI. The
                         // password comes from PGPASSFILE or PGPASSWORD, never from here.
    int connections = 0; // PostgreSQL connections kept at most; 0: the engine picks
};

// Everything the service keeps: the library's files, the crawled servers' files, the
// submitted sites, the saved searches, and which crawler walks which source. Two engines keep it:
// SQLite (one file, the default) and PostgreSQL (a database server several services share). Both
// answer every query alike: the same matches (see IndexWords), in the same order, cut into the same
// pages.
//
// Safe to use from many threads at once. Every call that changes the index is one
// transaction: a reader never sees half of one. A call throws IndexUnavailable while the
// database cannot be reached (the engine reconnects by itself, with backoff) and
// ServiceError for any other failure. Words are the query's words as the user typed them;
// the engine reduces them with IndexWords::ofQuery, and no word left means no match.
class ServiceIndex : public CrawlSink, public SourceLeases, public SavedSearchStore {
public:
    // The library, scanned by LibraryScan.
    virtual QHash<QString, LibraryStamp> libraryStamps() = 0; // by path
    // Adds or replaces the files in store and drops the paths in drop, in one transaction.
    // A file added anew comes after every file already in the index.
    virtual void changeLibrary(const QList<LibraryChange>& store, const QStringList& drop) = 0;
    // Matching library files in index order (the order in which they were first added).
    virtual QList<IndexedFile> searchLibraryFiles(const QStringList& words,
                                                  const QualityFilter& quality, int offset,
                                                  int limit) = 0;
    virtual int countLibraryFiles(const QStringList& words, const QualityFilter& quality) = 0;
    QList<IndexedFile> searchLibrary(const QStringList& words, int offset, int limit) {
        return searchLibraryFiles(words, {}, offset, limit);
    }
    int countLibrary(const QStringList& words) { return countLibraryFiles(words, {}); }
    virtual int libraryFileCount() = 0;

    // Crawled files (written through the CrawlSink side), ordered by the source's shown URL
    // (bytewise), then by source, then by path (bytewise).
    virtual QList<CrawledHit> searchCrawled(const QStringList& words, const CrawlFilter& filter,
                                            int offset, int limit) = 0;
    virtual int countCrawled(const QStringList& words, const CrawlFilter& filter) = 0;
    // Every source ever crawled, by shown URL, with its counts.
    virtual QList<IndexedSource> crawledSources() = 0;

    // Sites submitted through the program: adding one keeps only the newest keep of them.
    virtual void addSubmission(const Submission& submission, int keep) = 0;
    virtual QList<Submission> submissions() = 0; // oldest first
    // count of them, newest first, past the newest offset ones.
    virtual QList<Submission> latestSubmissions(int offset, int count) = 0;
    virtual int submissionCount() = 0;

    // For messages: "SQLite file /path" or "PostgreSQL database NAME on HOST" (never a
    // password).
    virtual QString description() const = 0;
};
