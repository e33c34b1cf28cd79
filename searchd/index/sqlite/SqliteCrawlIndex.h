#pragma once

#include "searchd/index/IndexTypes.h"

#include "crawl/CrawlTypes.h"
#include "crawl/SourceLeases.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

class SqliteDatabase;

// The index of crawled servers in the service's SQLite database, beside the library's files
// and matched the same way (IndexWords: every query word starts a word of the path below the
// source's folder, the artist or the title).
//
// The crawler's thread writes through a connection of its own, each sink call one
// transaction; searches read through connections of their own, one per thread at a time,
// so that a search over many crawled files holds up neither the walk nor other searches.
// In WAL mode readers go on while a folder is written, and never see half of one. A
// database in memory has one connection, shared under its lock.
class SqliteCrawlIndex : public CrawlSink {
public:
    // The tables must exist (SqliteSchema). Throws ServiceError when the database fails.
    explicit SqliteCrawlIndex(SqliteDatabase& db);
    ~SqliteCrawlIndex() override;

    qint64 beginCrawl(const CrawlSource& source) override;
    QByteArray folderFingerprint(const CrawlSource& source, const QString& folder) override;
    QList<CrawledFile> folderFiles(const CrawlSource& source, const QString& folder) override;
    void storeFolder(const CrawlSource& source, qint64 crawl, const QString& folder,
                     const QByteArray& fingerprint, const QList<CrawledFile>& files) override;
    void keepFolder(const CrawlSource& source, qint64 crawl, const QString& folder) override;
    void keepSubtree(const CrawlSource& source, qint64 crawl, const QString& folder) override;
    void finishCrawl(const CrawlSource& source, qint64 crawl, const WalkErrors& errors) override;
    void abandonCrawl(const CrawlSource& source, qint64 crawl, const QString& reason) override;

    // Matching files ordered by source URL and path, from offset on, at most limit.
    QList<CrawledHit> search(const QStringList& words, const CrawlFilter& filter, int offset,
                             int limit);
    int count(const QStringList& words, const CrawlFilter& filter);

    // Leases of sources (see SourceLeases), by this machine's clock.
    SourceLeases::Claim claimSource(const CrawlSource& source, const QString& holder,
                                    std::chrono::seconds length, const QDateTime& doneSince);
    bool renewSource(const CrawlSource& source, const QString& holder, std::chrono::seconds length);
    void releaseSource(const CrawlSource& source, const QString& holder, bool done);

    // Every source that was ever crawled, by URL, with its counts.
    QList<IndexedSource> sources();

private:
    struct Writer;
    class Reading;
    qint64 sourceNumber(const CrawlSource& source);
    // Runs statements that mark rows of folder seen by crawl (?1 source, ?2 folder, ?3 crawl),
    // in one transaction.
    void markSeen(const CrawlSource& source, qint64 crawl, const QString& folder,
                  std::initializer_list<const char*> statements);
    SqliteDatabase* takeReader();
    void giveBack(SqliteDatabase* reader);

    SqliteDatabase& m_db;                  // the service's connection
    QString m_file;                        // the database's file; empty in memory
    std::unique_ptr<SqliteDatabase> m_own; // the crawler's connection when the file allows one
    SqliteDatabase* m_writer = nullptr;    // m_own, or m_db for a database in memory
    std::mutex m_readersMutex;
    std::vector<std::unique_ptr<SqliteDatabase>> m_readers; // at most one per reading thread
    std::vector<SqliteDatabase*> m_idleReaders;
};
