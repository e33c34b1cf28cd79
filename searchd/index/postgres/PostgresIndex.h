#pragma once

#include "searchd/index/ServiceIndex.h"
#include "searchd/index/postgres/PgConnection.h"
#include "searchd/index/postgres/PgSavedSearchStore.h"

// The index in a PostgreSQL database, which several services may share: the serving ones
// read while one crawls into it. Words are kept as a tsvector of IndexWords' words (no
// parser, no stemming) under a GIN index; a query is a tsquery of prefixes, so it matches
// exactly as the SQLite engine does. Every change is one transaction on one connection of
// the pool. See docs/index-engines.md.
class PostgresIndex : public ServiceIndex {
public:
    // Connects, creates or upgrades the schema, and marks the walks a stopped service left
    // running as ended early. Throws ServiceError for a string that holds a password or a
    // schema newer than this program knows, IndexUnavailable when the server cannot be reached.
    explicit PostgresIndex(const IndexSettings& settings);
    ~PostgresIndex() override;

    QHash<QString, LibraryStamp> libraryStamps() override;
    void changeLibrary(const QList<LibraryChange>& store, const QStringList& drop) override;
    QList<IndexedFile> searchLibraryFiles(const QStringList& words, const QualityFilter& quality,
                                          int offset, int limit) override;
    int countLibraryFiles(const QStringList& words, const QualityFilter& quality) override;
    int libraryFileCount() override;

    QList<CrawledHit> searchCrawled(const QStringList& words, const CrawlFilter& filter, int offset,
                                    int limit) override;
    int countCrawled(const QStringList& words, const CrawlFilter& filter) override;
    QList<IndexedSource> crawledSources() override;

    void addSubmission(const Submission& submission, int keep) override;
    QList<Submission> submissions() override;
    QList<Submission> latestSubmissions(int offset, int count) override;
    int submissionCount() override;

    Added addSavedSearch(SavedSearch& search) override;
    QList<SavedSearch> savedSearches() override;
    std::optional<SavedSearch> savedSearch(qint64 id) override;
    bool removeSavedSearch(qint64 id) override;
    bool markSavedSeen(qint64 id) override;
    QSet<QString> savedMatchKeys(qint64 id) override;
    bool recordSavedRun(qint64 id, const QList<SavedMatch>& found, const QDateTime& at) override;
    QList<SavedMatch> newSavedMatches(qint64 id) override;

    QString description() const override { return m_description; }

    qint64 beginCrawl(const CrawlSource& source) override;
    QByteArray folderFingerprint(const CrawlSource& source, const QString& folder) override;
    QList<CrawledFile> folderFiles(const CrawlSource& source, const QString& folder) override;
    void storeFolder(const CrawlSource& source, qint64 crawl, const QString& folder,
                     const QByteArray& fingerprint, const QList<CrawledFile>& files) override;
    void keepFolder(const CrawlSource& source, qint64 crawl, const QString& folder) override;
    void keepSubtree(const CrawlSource& source, qint64 crawl, const QString& folder) override;
    void finishCrawl(const CrawlSource& source, qint64 crawl, const WalkErrors& errors) override;
    void abandonCrawl(const CrawlSource& source, qint64 crawl, const QString& reason) override;

    QDateTime leaseClock() override;
    Claim claimSource(const CrawlSource& source, const QString& holder, std::chrono::seconds length,
                      const QDateTime& doneSince) override;
    bool renewSource(const CrawlSource& source, const QString& holder,
                     std::chrono::seconds length) override;
    void releaseSource(const CrawlSource& source, const QString& holder, bool done) override;

    // The schema version this program creates and upgrades to.
    static int schemaVersion();

private:
    void upgradeSchema();

    QString m_description;
    PgPool m_pool;
    PgSavedSearchStore m_saved;
};
