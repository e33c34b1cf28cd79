#pragma once

#include "searchd/index/ServiceIndex.h"
#include "searchd/index/sqlite/SqliteCrawlIndex.h"
#include "searchd/index/sqlite/SqliteLibraryIndex.h"
#include "searchd/index/sqlite/SqliteSavedSearchStore.h"
#include "searchd/index/sqlite/SqliteSubmissionStore.h"

#include <memory>

class SqliteDatabase;

// The index in one SQLite file (the default engine): nothing to set up, one service.
class SqliteIndex : public ServiceIndex {
public:
    // Opens or creates the file and brings its tables up to date.
    explicit SqliteIndex(const QString& file);
    ~SqliteIndex() override;

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

    QString description() const override;

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

private:
    QString m_file;
    std::unique_ptr<SqliteDatabase> m_db;
    std::unique_ptr<SqliteLibraryIndex> m_library;
    std::unique_ptr<SqliteCrawlIndex> m_crawled;
    std::unique_ptr<SqliteSubmissionStore> m_submissions;
    std::unique_ptr<SqliteSavedSearchStore> m_saved;
};
