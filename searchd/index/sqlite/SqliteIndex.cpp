#include "searchd/index/sqlite/SqliteIndex.h"

#include "searchd/index/sqlite/SqliteDatabase.h"
#include "searchd/index/sqlite/SqliteSchema.h"

SqliteIndex::SqliteIndex(const QString& file)
    : m_file(file), m_db(std::make_unique<SqliteDatabase>(file)) {
    SqliteSchema::prepare(*m_db, SqliteIndex::description());
    m_library = std::make_unique<SqliteLibraryIndex>(*m_db);
    m_crawled = std::make_unique<SqliteCrawlIndex>(*m_db);
    m_submissions = std::make_unique<SqliteSubmissionStore>(*m_db);
    m_saved = std::make_unique<SqliteSavedSearchStore>(*m_db);
}

SqliteIndex::~SqliteIndex() = default;

QString SqliteIndex::description() const {
    return QStringLiteral("SQLite file %1").arg(m_file);
}

QHash<QString, LibraryStamp> SqliteIndex::libraryStamps() {
    return m_library->stamps();
}

void SqliteIndex::changeLibrary(const QList<LibraryChange>& store, const QStringList& drop) {
    m_library->change(store, drop);
}

QList<IndexedFile> SqliteIndex::searchLibraryFiles(const QStringList& words,
                                                   const QualityFilter& quality, int offset,
                                                   int limit) {
    return m_library->search(words, quality, offset, limit);
}

int SqliteIndex::countLibraryFiles(const QStringList& words, const QualityFilter& quality) {
    return m_library->count(words, quality);
}

int SqliteIndex::libraryFileCount() {
    return m_library->fileCount();
}

QList<CrawledHit> SqliteIndex::searchCrawled(const QStringList& words, const CrawlFilter& filter,
                                             int offset, int limit) {
    return m_crawled->search(words, filter, offset, limit);
}

int SqliteIndex::countCrawled(const QStringList& words, const CrawlFilter& filter) {
    return m_crawled->count(words, filter);
}

QList<IndexedSource> SqliteIndex::crawledSources() {
    return m_crawled->sources();
}

void SqliteIndex::addSubmission(const Submission& submission, int keep) {
    m_submissions->add(submission, keep);
}

QList<Submission> SqliteIndex::submissions() {
    return m_submissions->all();
}

QList<Submission> SqliteIndex::latestSubmissions(int offset, int count) {
    return m_submissions->latest(offset, count);
}

int SqliteIndex::submissionCount() {
    return m_submissions->count();
}

SavedSearchStore::Added SqliteIndex::addSavedSearch(SavedSearch& search) {
    return m_saved->add(search);
}

QList<SavedSearch> SqliteIndex::savedSearches() {
    return m_saved->all();
}

std::optional<SavedSearch> SqliteIndex::savedSearch(qint64 id) {
    return m_saved->one(id);
}

bool SqliteIndex::removeSavedSearch(qint64 id) {
    return m_saved->remove(id);
}

bool SqliteIndex::markSavedSeen(qint64 id) {
    return m_saved->markSeen(id);
}

QSet<QString> SqliteIndex::savedMatchKeys(qint64 id) {
    return m_saved->matchKeys(id);
}

bool SqliteIndex::recordSavedRun(qint64 id, const QList<SavedMatch>& found, const QDateTime& at) {
    return m_saved->recordRun(id, found, at);
}

QList<SavedMatch> SqliteIndex::newSavedMatches(qint64 id) {
    return m_saved->newMatches(id);
}

qint64 SqliteIndex::beginCrawl(const CrawlSource& source) {
    return m_crawled->beginCrawl(source);
}

QByteArray SqliteIndex::folderFingerprint(const CrawlSource& source, const QString& folder) {
    return m_crawled->folderFingerprint(source, folder);
}

QList<CrawledFile> SqliteIndex::folderFiles(const CrawlSource& source, const QString& folder) {
    return m_crawled->folderFiles(source, folder);
}

void SqliteIndex::storeFolder(const CrawlSource& source, qint64 crawl, const QString& folder,
                              const QByteArray& fingerprint, const QList<CrawledFile>& files) {
    m_crawled->storeFolder(source, crawl, folder, fingerprint, files);
}

void SqliteIndex::keepFolder(const CrawlSource& source, qint64 crawl, const QString& folder) {
    m_crawled->keepFolder(source, crawl, folder);
}

void SqliteIndex::keepSubtree(const CrawlSource& source, qint64 crawl, const QString& folder) {
    m_crawled->keepSubtree(source, crawl, folder);
}

void SqliteIndex::finishCrawl(const CrawlSource& source, qint64 crawl, const WalkErrors& errors) {
    m_crawled->finishCrawl(source, crawl, errors);
}

void SqliteIndex::abandonCrawl(const CrawlSource& source, qint64 crawl, const QString& reason) {
    m_crawled->abandonCrawl(source, crawl, reason);
}

QDateTime SqliteIndex::leaseClock() {
    return QDateTime::currentDateTimeUtc(); // one file, one machine: its clock is the index's
}

SourceLeases::Claim SqliteIndex::claimSource(const CrawlSource& source, const QString& holder,
                                             std::chrono::seconds length,
                                             const QDateTime& doneSince) {
    return m_crawled->claimSource(source, holder, length, doneSince);
}

bool SqliteIndex::renewSource(const CrawlSource& source, const QString& holder,
                              std::chrono::seconds length) {
    return m_crawled->renewSource(source, holder, length);
}

void SqliteIndex::releaseSource(const CrawlSource& source, const QString& holder, bool done) {
    m_crawled->releaseSource(source, holder, done);
}
