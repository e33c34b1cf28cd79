#include "searchd/index/sqlite/SqliteCrawlIndex.h"

#include "searchd/index/CrawlRecords.h"
#include "searchd/index/FrameBlob.h"
#include "searchd/index/IndexWords.h"
#include "searchd/index/sqlite/SqliteDatabase.h"
#include "searchd/index/sqlite/SqliteLibraryIndex.h"

#include <sqlite3.h>

namespace {

QString isoTime(const QDateTime& time) {
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QDateTime fromIso(const QString& text) {
    // The stored texts end in 'Z', so they come back as UTC.
    return text.isEmpty() ? QDateTime() : QDateTime::fromString(text, Qt::ISODateWithMs);
}

const char* const kMatchingFiles =
    " FROM crawl_fts JOIN crawl_files f ON f.id = crawl_fts.rowid "
    "JOIN crawl_sources s ON s.num = f.source "
    "WHERE crawl_fts MATCH ?1 AND instr(?2, ',' || CASE WHEN instr(?7, char(10) || s.id || "
    "char(10)) > 0 THEN 'http' ELSE s.kind END || ',') > 0 "
    "AND (?3 <= 0 OR (f.has_quality = 1 AND f.bitrate >= ?3)) "
    "AND (?6 = 0 OR f.verdict <> 'transcoded')";

void run(SqliteDatabase& db, const char* sql, qint64 a, qint64 b = 0) {
    SqliteStatement statement(db, sql);
    statement.bind(1, a);
    statement.bind(2, b);
    statement.step();
}

} // namespace

// The statements that change one source's rows, prepared once per transaction.
struct SqliteCrawlIndex::Writer {
    explicit Writer(SqliteDatabase& db)
        : addFile(db, "INSERT INTO crawl_files(source, folder, path, size, modified, etag, "
                      "head_read, frame, has_quality, bitrate, sample_rate, mode, artist, "
                      "title, seen, rate_mode, verdict) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, "
                      "?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17) RETURNING id"),
          addText(db, "INSERT INTO crawl_fts(rowid, words) VALUES(?1, ?2)"),
          dropFolderText(db, "DELETE FROM crawl_fts WHERE rowid IN (SELECT id FROM crawl_files "
                             "WHERE source = ?1 AND folder = ?2)"),
          dropFolderFiles(db, "DELETE FROM crawl_files WHERE source = ?1 AND folder = ?2") {}

    void replaceFolder(qint64 source, qint64 crawl, const QString& folder,
                       const QList<CrawledFile>& files) {
        for (SqliteStatement* drop : {&dropFolderText, &dropFolderFiles}) {
            drop->bind(1, source);
            drop->bind(2, folder);
            drop->step();
            drop->reset();
        }
        for (const CrawledFile& file : CrawlRecords::filesOfFolder(folder, files))
            add(source, crawl, folder, file);
    }

private:
    void add(qint64 source, qint64 crawl, const QString& folder, const CrawledFile& file) {
        const FrameHeader& frame = file.head.frame;
        const bool quality = file.headRead && file.head.hasQuality();
        addFile.bind(1, source);
        addFile.bind(2, folder);
        addFile.bind(3, file.path);
        addFile.bind(4, file.size < 0 ? qint64(-1) : file.size);
        addFile.bind(5, isoTime(file.modified));
        addFile.bindBlob(6, file.etag);
        addFile.bind(7, qint64(file.headRead));
        addFile.bindBlob(8, packFrame(frame));
        addFile.bind(9, qint64(quality));
        addFile.bind(10, quality ? qint64(frame.quality.bitrate) : 0);
        addFile.bind(11, quality ? frame.sampleRate.toLongLong() : 0);
        addFile.bind(12, quality ? QString::fromLatin1(frame.mode) : QString());
        addFile.bind(13, file.head.artist);
        addFile.bind(14, file.head.title);
        addFile.bind(15, crawl);
        addFile.bind(16, QString::fromLatin1(rateModeName(frame.quality.mode)));
        addFile.bind(17, QString::fromLatin1(verdictName(frame.quality.verdict)));
        addFile.step();
        const qint64 id = addFile.integer(0);
        addFile.reset();
        addText.bind(1, id);
        addText.bind(2, IndexWords::ofFile(file.path, file.head.artist, file.head.title));
        addText.step();
        addText.reset();
    }

    SqliteStatement addFile, addText, dropFolderText, dropFolderFiles;
};

SqliteCrawlIndex::SqliteCrawlIndex(SqliteDatabase& db) : m_db(db), m_writer(&db) {
    {
        // A walk that was running when its service stopped ended early, unless its crawler
        // (another service on the same file) still holds the source's lease.
        std::lock_guard lock(m_db.mutex());
        SqliteStatement stale(
            m_db, "UPDATE crawl_sources SET running = 0, stale = 1, "
                  "last_error = 'the service stopped during the walk' WHERE running = 1 AND "
                  "NOT EXISTS (SELECT 1 FROM crawl_leases l WHERE l.source = crawl_sources.id "
                  "AND l.holder <> '' AND l.expires > ?1)");
        stale.bind(1, isoTime(QDateTime::currentDateTimeUtc()));
        stale.step();
    }
    const char* file = sqlite3_db_filename(m_db.handle(), "main");
    m_file = QString::fromUtf8(file ? file : "");
    if (!m_file.isEmpty()) {
        m_own = std::make_unique<SqliteDatabase>(m_file);
        m_writer = m_own.get();
    }
}

// A connection for one read, held under its lock for the read's length.
class SqliteCrawlIndex::Reading {
public:
    explicit Reading(SqliteCrawlIndex& index)
        : m_index(index), m_db(index.takeReader()), m_lock(m_db->mutex()) {}
    ~Reading() {
        m_lock.unlock();
        m_index.giveBack(m_db);
    }
    Reading(const Reading&) = delete;
    Reading& operator=(const Reading&) = delete;
    SqliteDatabase& db() { return *m_db; }

private:
    SqliteCrawlIndex& m_index;
    SqliteDatabase* m_db;
    std::unique_lock<std::mutex> m_lock;
};

SqliteDatabase* SqliteCrawlIndex::takeReader() {
    if (m_file.isEmpty())
        return &m_db;
    std::lock_guard lock(m_readersMutex);
    if (!m_idleReaders.empty()) {
        SqliteDatabase* reader = m_idleReaders.back();
        m_idleReaders.pop_back();
        return reader;
    }
    m_readers.push_back(std::make_unique<SqliteDatabase>(m_file));
    return m_readers.back().get();
}

void SqliteCrawlIndex::giveBack(SqliteDatabase* reader) {
    if (reader == &m_db)
        return;
    std::lock_guard lock(m_readersMutex);
    m_idleReaders.push_back(reader);
}

SqliteCrawlIndex::~SqliteCrawlIndex() = default;

qint64 SqliteCrawlIndex::sourceNumber(const CrawlSource& source) {
    SqliteStatement upsert(
        *m_writer, "INSERT INTO crawl_sources(id, url, login, kind) VALUES(?1, ?2, ?3, ?4) "
                   "ON CONFLICT(id) DO UPDATE SET url = excluded.url, login = excluded.login, "
                   "kind = excluded.kind RETURNING num");
    upsert.bind(1, source.id);
    upsert.bind(2, IndexedSource::shownUrl(source.url));
    upsert.bind(3, source.url.userName());
    upsert.bind(4, source.url.scheme().toLower());
    upsert.step();
    return upsert.integer(0);
}

qint64 SqliteCrawlIndex::beginCrawl(const CrawlSource& source) {
    std::lock_guard lock(m_writer->mutex());
    SqliteTransaction transaction(*m_writer, "BEGIN IMMEDIATE");
    const qint64 number = sourceNumber(source);
    SqliteStatement begin(*m_writer,
                          "UPDATE crawl_sources SET last_crawl = last_crawl + 1, running = 1, "
                          "last_started = ?2 WHERE num = ?1 RETURNING last_crawl");
    begin.bind(1, number);
    begin.bind(2, isoTime(QDateTime::currentDateTimeUtc()));
    begin.step();
    const qint64 crawl = begin.integer(0);
    begin.reset();
    transaction.commit();
    return crawl;
}

QByteArray SqliteCrawlIndex::folderFingerprint(const CrawlSource& source, const QString& folder) {
    std::lock_guard lock(m_writer->mutex());
    SqliteStatement select(*m_writer,
                           "SELECT fingerprint FROM crawl_folders f JOIN crawl_sources s "
                           "ON s.num = f.source WHERE s.id = ?1 AND f.path = ?2");
    select.bind(1, source.id);
    select.bind(2, folder);
    return select.step() ? select.blob(0) : QByteArray();
}

QList<CrawledFile> SqliteCrawlIndex::folderFiles(const CrawlSource& source, const QString& folder) {
    std::lock_guard lock(m_writer->mutex());
    SqliteStatement select(*m_writer,
                           "SELECT path, size, modified, etag, head_read, frame, artist, title "
                           "FROM crawl_files f JOIN crawl_sources s ON s.num = f.source "
                           "WHERE s.id = ?1 AND f.folder = ?2 ORDER BY path");
    select.bind(1, source.id);
    select.bind(2, folder);
    QList<CrawledFile> files;
    while (select.step()) {
        CrawledFile file;
        file.path = select.text(0);
        file.size = select.integer(1);
        file.modified = fromIso(select.text(2));
        file.etag = select.blob(3);
        file.headRead = select.integer(4) != 0;
        file.head.frame = unpackFrame(select.blob(5));
        file.head.artist = select.text(6);
        file.head.title = select.text(7);
        files.append(file);
    }
    return files;
}

void SqliteCrawlIndex::storeFolder(const CrawlSource& source, qint64 crawl, const QString& folder,
                                   const QByteArray& fingerprint, const QList<CrawledFile>& files) {
    std::lock_guard lock(m_writer->mutex());
    SqliteTransaction transaction(*m_writer, "BEGIN IMMEDIATE");
    const qint64 number = sourceNumber(source);
    SqliteStatement store(*m_writer,
                          "INSERT INTO crawl_folders(source, path, fingerprint, seen) "
                          "VALUES(?1, ?2, ?3, ?4) ON CONFLICT(source, path) DO UPDATE SET "
                          "fingerprint = excluded.fingerprint, seen = excluded.seen");
    store.bind(1, number);
    store.bind(2, folder);
    store.bindBlob(3, fingerprint);
    store.bind(4, crawl);
    store.step();
    Writer(*m_writer).replaceFolder(number, crawl, folder, files);
    transaction.commit();
}

void SqliteCrawlIndex::markSeen(const CrawlSource& source, qint64 crawl, const QString& folder,
                                std::initializer_list<const char*> statements) {
    std::lock_guard lock(m_writer->mutex());
    SqliteTransaction transaction(*m_writer, "BEGIN IMMEDIATE");
    const qint64 number = sourceNumber(source);
    for (const char* sql : statements) {
        SqliteStatement keep(*m_writer, sql);
        keep.bind(1, number);
        keep.bind(2, folder);
        keep.bind(3, crawl);
        keep.step();
    }
    transaction.commit();
}

void SqliteCrawlIndex::keepFolder(const CrawlSource& source, qint64 crawl, const QString& folder) {
    markSeen(source, crawl, folder,
             {"UPDATE crawl_folders SET seen = ?3 WHERE source = ?1 AND path = ?2",
              "UPDATE crawl_files SET seen = ?3 WHERE source = ?1 AND folder = ?2"});
}

void SqliteCrawlIndex::keepSubtree(const CrawlSource& source, qint64 crawl, const QString& folder) {
    // The folder and those below it ("a" holds "a/b", not "ab"); '' is the whole source.
    markSeen(source, crawl, folder,
             {"UPDATE crawl_folders SET seen = ?3 WHERE source = ?1 AND (?2 = '' OR path = ?2 OR "
              "substr(path, 1, length(?2) + 1) = ?2 || '/')",
              "UPDATE crawl_files SET seen = ?3 WHERE source = ?1 AND (?2 = '' OR folder = ?2 "
              "OR substr(folder, 1, length(?2) + 1) = ?2 || '/')"});
}

void SqliteCrawlIndex::finishCrawl(const CrawlSource& source, qint64 crawl,
                                   const WalkErrors& errors) {
    std::lock_guard lock(m_writer->mutex());
    SqliteTransaction transaction(*m_writer, "BEGIN IMMEDIATE");
    const qint64 number = sourceNumber(source);
    // What could not be read was kept (keepSubtree, keepFolder): the rest is gone.
    run(*m_writer,
        "DELETE FROM crawl_fts WHERE rowid IN "
        "(SELECT id FROM crawl_files WHERE source = ?1 AND seen < ?2)",
        number, crawl);
    run(*m_writer, "DELETE FROM crawl_files WHERE source = ?1 AND seen < ?2", number, crawl);
    run(*m_writer, "DELETE FROM crawl_folders WHERE source = ?1 AND seen < ?2", number, crawl);
    SqliteStatement done(*m_writer, "UPDATE crawl_sources SET running = 0, stale = 0, "
                                    "last_finished = ?2, last_error = ?3 WHERE num = ?1");
    done.bind(1, number);
    done.bind(2, isoTime(QDateTime::currentDateTimeUtc()));
    done.bind(3, CrawlRecords::finishedWith(errors));
    done.step();
    transaction.commit();
}

void SqliteCrawlIndex::abandonCrawl(const CrawlSource& source, qint64, const QString& reason) {
    std::lock_guard lock(m_writer->mutex());
    SqliteTransaction transaction(*m_writer, "BEGIN IMMEDIATE");
    const qint64 number = sourceNumber(source);
    SqliteStatement stale(*m_writer, "UPDATE crawl_sources SET running = 0, stale = 1, "
                                     "last_finished = ?2, last_error = ?3 WHERE num = ?1");
    stale.bind(1, number);
    stale.bind(2, isoTime(QDateTime::currentDateTimeUtc()));
    stale.bind(3, CrawlRecords::abandonedFor(reason));
    stale.step();
    transaction.commit();
}

QList<CrawledHit> SqliteCrawlIndex::search(const QStringList& words, const CrawlFilter& filter,
                                           int offset, int limit) {
    QList<CrawledHit> hits;
    const QStringList tokens = IndexWords::ofQuery(words);
    if (tokens.isEmpty() || limit <= 0)
        return hits;
    Reading reading(*this);
    SqliteDatabase& db = reading.db();
    SqliteStatement query(
        db, (QByteArray("SELECT s.id, s.url, s.login, f.path, f.size, f.artist, f.title, "
                        "f.has_quality, f.bitrate, f.sample_rate, f.mode, f.frame") +
             kMatchingFiles + " ORDER BY s.url, s.num, f.path LIMIT ?4 OFFSET ?5")
                .constData());
    query.bind(1, SqliteLibraryIndex::matchExpression(tokens));
    query.bind(2, CrawlRecords::schemeList(filter.schemes));
    query.bind(3, qint64(filter.minBitrate));
    query.bind(4, qint64(limit));
    query.bind(5, qint64(std::max(offset, 0)));
    query.bind(6, qint64(filter.hideTranscodes));
    query.bind(7, CrawlRecords::sourceList(filter.relayed));
    while (query.step()) {
        CrawledHit hit;
        hit.sourceId = query.text(0);
        hit.sourceUrl = QUrl(query.text(1), QUrl::StrictMode);
        hit.sourceUrl.setUserName(query.text(2));
        hit.path = query.text(3);
        hit.size = query.integer(4);
        hit.artist = query.text(5);
        hit.title = query.text(6);
        hit.hasQuality = query.integer(7) != 0;
        hit.bitrate = static_cast<int>(query.integer(8));
        hit.sampleRate = static_cast<int>(query.integer(9));
        hit.mode = query.text(10);
        hit.quality = unpackFrame(query.blob(11)).quality;
        hits.append(hit);
    }
    return hits;
}

int SqliteCrawlIndex::count(const QStringList& words, const CrawlFilter& filter) {
    const QStringList tokens = IndexWords::ofQuery(words);
    if (tokens.isEmpty())
        return 0;
    Reading reading(*this);
    SqliteDatabase& db = reading.db();
    SqliteStatement query(db, (QByteArray("SELECT count(*)") + kMatchingFiles).constData());
    query.bind(1, SqliteLibraryIndex::matchExpression(tokens));
    query.bind(2, CrawlRecords::schemeList(filter.schemes));
    query.bind(3, qint64(filter.minBitrate));
    query.bind(6, qint64(filter.hideTranscodes));
    query.bind(7, CrawlRecords::sourceList(filter.relayed));
    query.step();
    return static_cast<int>(query.integer(0));
}

QList<IndexedSource> SqliteCrawlIndex::sources() {
    Reading reading(*this);
    SqliteDatabase& db = reading.db();
    SqliteStatement query(
        db, "SELECT id, url, kind, last_crawl, last_started, last_finished, running, stale, "
            "last_error, (SELECT count(*) FROM crawl_folders WHERE source = s.num), "
            "(SELECT count(*) FROM crawl_files WHERE source = s.num), "
            "(SELECT count(*) FROM crawl_files WHERE source = s.num AND has_quality = 1), "
            "(SELECT count(*) FROM crawl_files WHERE source = s.num AND rate_mode <> 'CBR'), "
            "(SELECT count(*) FROM crawl_files WHERE source = s.num AND verdict = 'transcoded') "
            "FROM crawl_sources s ORDER BY url, num");
    QList<IndexedSource> list;
    while (query.step()) {
        IndexedSource source;
        source.id = query.text(0);
        source.url = query.text(1);
        source.kind = query.text(2);
        source.lastCrawl = query.integer(3);
        source.lastStarted = fromIso(query.text(4));
        source.lastFinished = fromIso(query.text(5));
        source.running = query.integer(6) != 0;
        source.stale = query.integer(7) != 0;
        source.lastError = query.text(8);
        source.folders = query.integer(9);
        source.files = query.integer(10);
        source.filesWithQuality = query.integer(11);
        source.filesVariable = query.integer(12);
        source.filesTranscoded = query.integer(13);
        list.append(source);
    }
    return list;
}

namespace {

QString leaseEnd(std::chrono::seconds length) {
    return isoTime(QDateTime::currentDateTimeUtc().addSecs(length.count()));
}

} // namespace

SourceLeases::Claim SqliteCrawlIndex::claimSource(const CrawlSource& source, const QString& holder,
                                                  std::chrono::seconds length,
                                                  const QDateTime& doneSince) {
    std::lock_guard lock(m_writer->mutex());
    SqliteTransaction transaction(*m_writer, "BEGIN IMMEDIATE");
    SqliteStatement lease(*m_writer,
                          "SELECT holder, expires, done_at FROM crawl_leases WHERE source = ?1");
    lease.bind(1, source.id);
    if (lease.step()) {
        const QString doneAt = lease.text(2);
        if (!doneAt.isEmpty() && doneSince.isValid() && doneAt >= isoTime(doneSince))
            return SourceLeases::Claim::DoneSince;
        const QString other = lease.text(0);
        if (!other.isEmpty() && other != holder &&
            lease.text(1) > isoTime(QDateTime::currentDateTimeUtc()))
            return SourceLeases::Claim::HeldElsewhere;
    }
    lease.reset();
    SqliteStatement take(*m_writer, "INSERT INTO crawl_leases(source, holder, expires) "
                                    "VALUES(?1, ?2, ?3) ON CONFLICT(source) DO UPDATE SET "
                                    "holder = excluded.holder, expires = excluded.expires");
    take.bind(1, source.id);
    take.bind(2, holder);
    take.bind(3, leaseEnd(length));
    take.step();
    transaction.commit();
    return SourceLeases::Claim::Taken;
}

bool SqliteCrawlIndex::renewSource(const CrawlSource& source, const QString& holder,
                                   std::chrono::seconds length) {
    std::lock_guard lock(m_writer->mutex());
    SqliteStatement renew(*m_writer, "UPDATE crawl_leases SET expires = ?3 "
                                     "WHERE source = ?1 AND holder = ?2 RETURNING 1");
    renew.bind(1, source.id);
    renew.bind(2, holder);
    renew.bind(3, leaseEnd(length));
    return renew.step();
}

void SqliteCrawlIndex::releaseSource(const CrawlSource& source, const QString& holder, bool done) {
    std::lock_guard lock(m_writer->mutex());
    SqliteStatement release(*m_writer, "UPDATE crawl_leases SET holder = '', expires = ?3, "
                                       "done_at = CASE WHEN ?4 THEN ?3 ELSE done_at END "
                                       "WHERE source = ?1 AND holder = ?2");
    const QString now = isoTime(QDateTime::currentDateTimeUtc());
    release.bind(1, source.id);
    release.bind(2, holder);
    release.bind(3, now);
    release.bind(4, qint64(done));
    release.step();
}
