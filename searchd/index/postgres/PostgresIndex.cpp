#include "searchd/index/postgres/PostgresIndex.h"

#include "searchd/index/CrawlRecords.h"
#include "searchd/index/FrameBlob.h"
#include "searchd/index/IndexWords.h"

#include <libpq-fe.h>

namespace {

// The schema's steps: step i brings version i to version i + 1, in one transaction. An
// upgrade is one more line at the end.
const char* const kSchemaSteps[] = {
    "CREATE TABLE library_files(id bigserial PRIMARY KEY, path text NOT NULL UNIQUE, "
    "size bigint NOT NULL, modified bigint NOT NULL, artist text NOT NULL, title text NOT NULL, "
    "words tsvector NOT NULL);"
    "CREATE INDEX library_files_words ON library_files USING gin(words);"
    "CREATE TABLE crawl_sources(num bigserial PRIMARY KEY, id text NOT NULL UNIQUE, "
    "url text COLLATE \"C\" NOT NULL, login text NOT NULL, kind text NOT NULL, "
    "last_crawl bigint NOT NULL DEFAULT 0, last_started timestamptz, last_finished timestamptz, "
    "running boolean NOT NULL DEFAULT false, stale boolean NOT NULL DEFAULT false, "
    "last_error text NOT NULL DEFAULT '');"
    "CREATE INDEX crawl_sources_order ON crawl_sources(url, num);"
    "CREATE TABLE crawl_folders(source bigint NOT NULL REFERENCES crawl_sources, "
    "path text NOT NULL, fingerprint bytea NOT NULL, seen bigint NOT NULL, "
    "PRIMARY KEY(source, path));"
    "CREATE TABLE crawl_files(id bigserial PRIMARY KEY, "
    "source bigint NOT NULL REFERENCES crawl_sources, folder text COLLATE \"C\" NOT NULL, "
    "path text COLLATE \"C\" NOT NULL, "
    "size bigint NOT NULL, modified bigint, etag bytea NOT NULL, head_read boolean NOT NULL, "
    "frame bytea NOT NULL, has_quality boolean NOT NULL, bitrate integer NOT NULL, "
    "sample_rate integer NOT NULL, mode text NOT NULL, artist text NOT NULL, "
    "title text NOT NULL, seen bigint NOT NULL, words tsvector NOT NULL, UNIQUE(source, path));"
    "CREATE INDEX crawl_files_folder ON crawl_files(source, folder);"
    "CREATE INDEX crawl_files_words ON crawl_files USING gin(words);"
    "CREATE TABLE submissions(id bigserial PRIMARY KEY, kind text NOT NULL, site text NOT NULL, "
    "sender text NOT NULL, received bigint NOT NULL);"
    "CREATE TABLE source_leases(source text PRIMARY KEY, holder text NOT NULL, "
    "expires timestamptz NOT NULL, done_at timestamptz);",
    // The library files' quality, each crawled file's rate mode and transcode verdict; rows
    // from before keep the defaults until the next scan or walk reads their heads again.
    "ALTER TABLE crawl_files ADD COLUMN rate_mode text NOT NULL DEFAULT 'CBR', "
    "ADD COLUMN verdict text NOT NULL DEFAULT 'unknown';"
    "ALTER TABLE library_files ADD COLUMN frame bytea NOT NULL DEFAULT ''::bytea, "
    "ADD COLUMN quality_version integer NOT NULL DEFAULT 0, "
    "ADD COLUMN has_quality boolean NOT NULL DEFAULT false, "
    "ADD COLUMN bitrate integer NOT NULL DEFAULT 0, "
    "ADD COLUMN verdict text NOT NULL DEFAULT 'unknown';",
    // The saved searches (times in milliseconds since the epoch, 0 for never) and the files
    // each has found.
    "CREATE TABLE saved_searches(id bigserial PRIMARY KEY, words text NOT NULL, "
    "kind text NOT NULL, min_bitrate integer NOT NULL, genuine_only boolean NOT NULL, "
    "sameness text NOT NULL UNIQUE, saved_at bigint NOT NULL, last_run bigint NOT NULL DEFAULT 0);"
    "CREATE TABLE saved_matches(num bigserial PRIMARY KEY, "
    "search bigint NOT NULL REFERENCES saved_searches ON DELETE CASCADE, key text NOT NULL, "
    "name text NOT NULL, url text NOT NULL, kind text NOT NULL, size bigint NOT NULL, "
    "bitrate integer NOT NULL, mode text NOT NULL, verdict text NOT NULL, "
    "found_at bigint NOT NULL, is_new boolean NOT NULL, UNIQUE(search, key));",
};
constexpr int kKnownVersion = static_cast<int>(std::size(kSchemaSteps));
constexpr qint64 kSchemaLock = 0x70656c6c6d6172; // any number, the same for every service

// The words as one text, kept as they are (no parser): the column's value.
const char* const kWords = "array_to_tsvector(string_to_array(?::text, ' '))";
// Milliseconds since the epoch of a timestamptz column, NULL for none.
#define PG_MS(column) "floor(extract(epoch FROM " column ") * 1000)::bigint"

// A file's words also carry their first one, two and three characters, as SQLite's prefix
// indexes do: a short query word is then one lexeme of the index, not a search through the
// hundreds of words that start with it.
constexpr int kPrefixed = 3;

int characters(const QString& word) {
    int count = 0;
    for (const QChar c : word)
        count += c.isLowSurrogate() ? 0 : 1;
    return count;
}

// The column's lexemes for a file's words (IndexWords::ofFile): each word and its prefixes.
QString lexemes(const QString& words) {
    QStringList out;
    for (const QString& word : words.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        out.append(word);
        qsizetype length = 0;
        for (int n = 1; n <= kPrefixed && n < characters(word); ++n) {
            length += word.at(length).isHighSurrogate() ? 2 : 1;
            out.append(word.left(length));
        }
    }
    return out.join(QLatin1Char(' '));
}

// "'ab' & 'tok2':*": every token the start of one of a file's words; a short token is one
// of the prefixes kept with the words.
QString prefixQuery(const QStringList& tokens) {
    QStringList terms;
    for (QString token : tokens) {
        const bool whole = characters(token) <= kPrefixed;
        token.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
        token.replace(QLatin1Char('\''), QLatin1String("\\'"));
        terms.append(QLatin1Char('\'') + token + QLatin1Char('\'') +
                     (whole ? QLatin1String() : QLatin1String(":*")));
    }
    return terms.join(QLatin1String(" & "));
}

QDateTime fromMs(const PgResult& result, int row, int column) {
    return result.isNull(row, column)
               ? QDateTime()
               : QDateTime::fromMSecsSinceEpoch(result.number(row, column), Qt::UTC);
}

// Runs "head VALUES (columns), (columns), ... tail" over the rows, a few hundred per
// statement; each '?' in columns becomes the row's next parameter.
template <typename Row, typename Bind>
void insertRows(PgConnection& db, const QString& head, const QString& columns, const QString& tail,
                const QList<Row>& rows, Bind bind) {
    const qsizetype chunk = std::max<qsizetype>(1, 2000 / (columns.count(QLatin1Char('?')) + 1));
    for (qsizetype start = 0; start < rows.size(); start += chunk) {
        QString sql = head + QLatin1String(" VALUES ");
        PgParams params;
        const qsizetype end = std::min(rows.size(), start + chunk);
        int number = 0;
        for (qsizetype i = start; i < end; ++i) {
            sql += QLatin1String(i > start ? ", (" : "(");
            for (const QChar c : columns)
                sql += c == QLatin1Char('?') ? QLatin1Char('$') + QString::number(++number)
                                             : QString(c);
            sql += QLatin1Char(')');
            bind(params, rows.at(i));
        }
        db.exec((sql + QLatin1Char(' ') + tail).toUtf8().constData(), params);
    }
}

const char* const kMatchingCrawled =
    " FROM crawl_files f JOIN crawl_sources s ON s.num = f.source "
    "WHERE f.words @@ $1::tsquery AND position(',' || CASE WHEN position(chr(10) || s.id || "
    "chr(10) IN $5::text) > 0 THEN 'http' ELSE s.kind END || ',' IN $2::text) > 0 "
    "AND ($3::integer <= 0 OR (f.has_quality AND f.bitrate >= $3::integer)) "
    "AND (NOT $4::boolean OR f.verdict <> 'transcoded')";

qint64 sourceNumber(PgConnection& db, const CrawlSource& source) {
    return db
        .exec("INSERT INTO crawl_sources(id, url, login, kind) VALUES($1, $2, $3, $4) "
              "ON CONFLICT(id) DO UPDATE SET url = excluded.url, login = excluded.login, "
              "kind = excluded.kind RETURNING num",
              PgParams()
                  .text(source.id)
                  .text(IndexedSource::shownUrl(source.url))
                  .text(source.url.userName())
                  .text(source.url.scheme().toLower()))
        .number(0, 0);
}

// Reads the connection string: refuses a password in it, and names database and host.
QString describe(const QString& conninfo) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.toUtf8().constData(), &error);
    if (!options) {
        const QString reason = QString::fromUtf8(error ? error : "out of memory").simplified();
        PQfreemem(error);
        throw ServiceError(QStringLiteral("the database connection string is not valid: ") +
                           reason);
    }
    QHash<QByteArray, QString> set;
    for (PQconninfoOption* option = options; option->keyword; ++option)
        if (option->val && *option->val)
            set.insert(option->keyword, QString::fromUtf8(option->val));
    PQconninfoFree(options);
    if (set.contains("password"))
        throw ServiceError(QStringLiteral(
            "put the database password in PGPASSFILE or PGPASSWORD, not in --database"));
    // What the string leaves out comes from the environment (PGHOST, PGDATABASE, PGUSER).
    PQconninfoOption* defaults = PQconndefaults();
    for (PQconninfoOption* option = defaults; option && option->keyword; ++option)
        if (option->val && *option->val && !set.contains(option->keyword))
            set.insert(option->keyword, QString::fromUtf8(option->val));
    PQconninfoFree(defaults);
    const QString name = set.value("dbname", set.value("user"));
    QString host = set.value("host", set.value("hostaddr"));
    if (host.isEmpty())
        host = QStringLiteral("the local socket");
    return QStringLiteral("PostgreSQL database %1 on %2").arg(name, host);
}

} // namespace

int PostgresIndex::schemaVersion() {
    return kKnownVersion;
}

PostgresIndex::PostgresIndex(const IndexSettings& settings)
    : m_description(describe(settings.postgresUrl)),
      m_pool(settings.postgresUrl, settings.connections), m_saved(m_pool) {
    upgradeSchema();
    // A walk left running ended early with its service, unless a crawler still holds the
    // source: another service's walk goes on.
    m_pool.run([](PgConnection& db) {
        db.exec("UPDATE crawl_sources s SET running = false, stale = true, "
                "last_error = 'the service stopped during the walk' WHERE running AND NOT EXISTS "
                "(SELECT 1 FROM source_leases l WHERE l.source = s.id AND l.holder <> '' "
                "AND l.expires > now())");
    });
}

PostgresIndex::~PostgresIndex() = default;

void PostgresIndex::upgradeSchema() {
    for (bool current = false; !current;) {
        m_pool.transaction([&](PgConnection& db) {
            // Services that start together wait here for each other's step.
            db.exec("SELECT pg_advisory_xact_lock($1)", PgParams().number(kSchemaLock));
            db.exec("CREATE TABLE IF NOT EXISTS pellmar_schema(version integer NOT NULL)");
            const PgResult found = db.exec("SELECT coalesce(max(version), 0) FROM pellmar_schema");
            const qint64 version = found.number(0, 0);
            if (version > kKnownVersion)
                throw ServiceError(QStringLiteral("the index in %1 has schema version %2; this "
                                                  "pellmar-searchd knows up to %3")
                                       .arg(m_description)
                                       .arg(version)
                                       .arg(kKnownVersion));
            current = version == kKnownVersion;
            if (current)
                return;
            db.script(kSchemaSteps[version]);
            db.exec("DELETE FROM pellmar_schema");
            db.exec("INSERT INTO pellmar_schema(version) VALUES($1)",
                    PgParams().number(version + 1));
        });
    }
}

QHash<QString, LibraryStamp> PostgresIndex::libraryStamps() {
    return m_pool.run([](PgConnection& db) {
        const PgResult rows =
            db.exec("SELECT path, size, modified, quality_version FROM library_files");
        QHash<QString, LibraryStamp> stamps;
        stamps.reserve(rows.rows());
        for (int i = 0; i < rows.rows(); ++i)
            stamps.insert(rows.text(i, 0), {rows.number(i, 1), rows.number(i, 2),
                                            static_cast<int>(rows.number(i, 3))});
        return stamps;
    });
}

void PostgresIndex::changeLibrary(const QList<LibraryChange>& store, const QStringList& drop) {
    // One upsert cannot touch a row twice: a path given twice keeps its last version.
    QList<LibraryChange> unique;
    QHash<QString, qsizetype> at;
    for (const LibraryChange& change : store) {
        const auto found = at.constFind(change.file.path);
        if (found != at.cend()) {
            unique[*found] = change;
        } else {
            at.insert(change.file.path, unique.size());
            unique.append(change);
        }
    }
    m_pool.transaction([&](PgConnection& db) {
        for (const QString& path : drop)
            db.exec("DELETE FROM library_files WHERE path = $1", PgParams().text(path));
        insertRows(db,
                   QStringLiteral("INSERT INTO library_files(path, size, modified, artist, "
                                  "title, frame, quality_version, has_quality, bitrate, "
                                  "verdict, words)"),
                   QStringLiteral("?::text, ?::bigint, ?::bigint, ?::text, ?::text, ?::bytea, "
                                  "?::integer, ?::boolean, ?::integer, ?::text, ") +
                       QLatin1String(kWords),
                   QStringLiteral("ON CONFLICT(path) DO UPDATE SET size = excluded.size, "
                                  "modified = excluded.modified, artist = excluded.artist, "
                                  "title = excluded.title, frame = excluded.frame, "
                                  "quality_version = excluded.quality_version, "
                                  "has_quality = excluded.has_quality, "
                                  "bitrate = excluded.bitrate, verdict = excluded.verdict, "
                                  "words = excluded.words"),
                   unique, [](PgParams& params, const LibraryChange& change) {
                       const IndexedFile& f = change.file;
                       params.text(f.path).number(f.size).number(change.modified);
                       params.text(f.artist).text(f.title);
                       params.bytes(packFrame(f.frame)).number(f.frame.quality.version);
                       const bool known = f.frame.error.isEmpty();
                       params.boolean(known).number(known ? f.frame.quality.bitrate : 0);
                       params.text(QString::fromLatin1(verdictName(f.frame.quality.verdict)));
                       params.text(lexemes(IndexWords::ofFile(f.path, f.artist, f.title)));
                   });
    });
}

// A library file's quality against a filter whose minimum bitrate and hiding of transcodes
// are the parameters $N and $N+1.
QByteArray libraryQuality(int n) {
    return " AND ($" + QByteArray::number(n) + "::integer <= 0 OR (has_quality AND bitrate >= $" +
           QByteArray::number(n) + "::integer)) AND (NOT $" + QByteArray::number(n + 1) +
           "::boolean OR verdict <> 'transcoded')";
}

QList<IndexedFile> PostgresIndex::searchLibraryFiles(const QStringList& words,
                                                     const QualityFilter& quality, int offset,
                                                     int limit) {
    const QStringList tokens = IndexWords::ofQuery(words);
    QList<IndexedFile> found;
    if (tokens.isEmpty() || limit <= 0)
        return found;
    const QByteArray sql = "SELECT path, size, artist, title, frame FROM library_files WHERE "
                           "words @@ $1::tsquery" +
                           libraryQuality(4) + " ORDER BY id LIMIT $2 OFFSET $3";
    return m_pool.run([&](PgConnection& db) {
        const PgResult rows = db.exec(sql.constData(), PgParams()
                                                           .text(prefixQuery(tokens))
                                                           .number(limit)
                                                           .number(std::max(0, offset))
                                                           .number(quality.minBitrate)
                                                           .boolean(quality.hideTranscodes));
        for (int i = 0; i < rows.rows(); ++i)
            found.append({rows.text(i, 0), rows.number(i, 1), rows.text(i, 2), rows.text(i, 3),
                          unpackFrame(rows.bytes(i, 4))});
        return found;
    });
}

int PostgresIndex::countLibraryFiles(const QStringList& words, const QualityFilter& quality) {
    const QStringList tokens = IndexWords::ofQuery(words);
    if (tokens.isEmpty())
        return 0;
    const QByteArray sql =
        "SELECT count(*) FROM library_files WHERE words @@ $1::tsquery" + libraryQuality(2);
    return m_pool.run([&](PgConnection& db) {
        return static_cast<int>(db.exec(sql.constData(), PgParams()
                                                             .text(prefixQuery(tokens))
                                                             .number(quality.minBitrate)
                                                             .boolean(quality.hideTranscodes))
                                    .number(0, 0));
    });
}

int PostgresIndex::libraryFileCount() {
    return m_pool.run([](PgConnection& db) {
        return static_cast<int>(db.exec("SELECT count(*) FROM library_files").number(0, 0));
    });
}

QList<CrawledHit> PostgresIndex::searchCrawled(const QStringList& words, const CrawlFilter& filter,
                                               int offset, int limit) {
    const QStringList tokens = IndexWords::ofQuery(words);
    QList<CrawledHit> hits;
    if (tokens.isEmpty() || limit <= 0)
        return hits;
    const QByteArray sql =
        QByteArray("SELECT s.id, s.url, s.login, f.path, f.size, f.artist, f.title, "
                   "f.has_quality, f.bitrate, f.sample_rate, f.mode, f.frame") +
        kMatchingCrawled +
        " ORDER BY s.url COLLATE \"C\", s.num, f.path COLLATE \"C\" LIMIT $6 OFFSET $7";
    return m_pool.run([&](PgConnection& db) {
        const PgResult rows =
            db.exec(sql.constData(), PgParams()
                                         .text(prefixQuery(tokens))
                                         .text(CrawlRecords::schemeList(filter.schemes))
                                         .number(filter.minBitrate)
                                         .boolean(filter.hideTranscodes)
                                         .text(CrawlRecords::sourceList(filter.relayed))
                                         .number(limit)
                                         .number(std::max(0, offset)));
        for (int i = 0; i < rows.rows(); ++i) {
            CrawledHit hit;
            hit.sourceId = rows.text(i, 0);
            hit.sourceUrl = QUrl(rows.text(i, 1), QUrl::StrictMode);
            hit.sourceUrl.setUserName(rows.text(i, 2));
            hit.path = rows.text(i, 3);
            hit.size = rows.number(i, 4);
            hit.artist = rows.text(i, 5);
            hit.title = rows.text(i, 6);
            hit.hasQuality = rows.boolean(i, 7);
            hit.bitrate = static_cast<int>(rows.number(i, 8));
            hit.sampleRate = static_cast<int>(rows.number(i, 9));
            hit.mode = rows.text(i, 10);
            hit.quality = unpackFrame(rows.bytes(i, 11)).quality;
            hits.append(hit);
        }
        return hits;
    });
}

int PostgresIndex::countCrawled(const QStringList& words, const CrawlFilter& filter) {
    const QStringList tokens = IndexWords::ofQuery(words);
    if (tokens.isEmpty())
        return 0;
    const QByteArray sql = QByteArray("SELECT count(*)") + kMatchingCrawled;
    return m_pool.run([&](PgConnection& db) {
        return static_cast<int>(
            db.exec(sql.constData(), PgParams()
                                         .text(prefixQuery(tokens))
                                         .text(CrawlRecords::schemeList(filter.schemes))
                                         .number(filter.minBitrate)
                                         .boolean(filter.hideTranscodes)
                                         .text(CrawlRecords::sourceList(filter.relayed)))
                .number(0, 0));
    });
}

QList<IndexedSource> PostgresIndex::crawledSources() {
    return m_pool.run([](PgConnection& db) {
        const PgResult rows =
            db.exec("SELECT id, url, kind, last_crawl, " PG_MS("last_started") ", " PG_MS(
                "last_finished") ", running, stale, last_error, "
                                 "(SELECT count(*) FROM crawl_folders WHERE source = s.num), "
                                 "(SELECT count(*) FROM crawl_files WHERE source = s.num), "
                                 "(SELECT count(*) FROM crawl_files WHERE source = s.num AND "
                                 "has_quality), "
                                 "(SELECT count(*) FROM crawl_files WHERE source = s.num AND "
                                 "rate_mode <> 'CBR'), "
                                 "(SELECT count(*) FROM crawl_files WHERE source = s.num AND "
                                 "verdict = 'transcoded') FROM crawl_sources s "
                                 "ORDER BY url COLLATE \"C\", num");
        QList<IndexedSource> list;
        for (int i = 0; i < rows.rows(); ++i) {
            IndexedSource source;
            source.id = rows.text(i, 0);
            source.url = rows.text(i, 1);
            source.kind = rows.text(i, 2);
            source.lastCrawl = rows.number(i, 3);
            source.lastStarted = fromMs(rows, i, 4);
            source.lastFinished = fromMs(rows, i, 5);
            source.running = rows.boolean(i, 6);
            source.stale = rows.boolean(i, 7);
            source.lastError = rows.text(i, 8);
            source.folders = rows.number(i, 9);
            source.files = rows.number(i, 10);
            source.filesWithQuality = rows.number(i, 11);
            source.filesVariable = rows.number(i, 12);
            source.filesTranscoded = rows.number(i, 13);
            list.append(source);
        }
        return list;
    });
}

void PostgresIndex::addSubmission(const Submission& submission, int keep) {
    m_pool.run([&](PgConnection& db) {
        db.exec("INSERT INTO submissions(kind, site, sender, received) VALUES($1, $2, $3, $4)",
                PgParams()
                    .text(submission.kind)
                    .text(submission.site)
                    .text(submission.from)
                    .number(submission.received.toSecsSinceEpoch()));
        db.exec("DELETE FROM submissions WHERE id <= (SELECT id FROM submissions ORDER BY id "
                "DESC LIMIT 1 OFFSET $1)",
                PgParams().number(keep));
    });
}

namespace {

QList<Submission> submissionRows(const PgResult& rows) {
    QList<Submission> list;
    for (int i = 0; i < rows.rows(); ++i)
        list.append({rows.text(i, 0), rows.text(i, 1), rows.text(i, 2),
                     QDateTime::fromSecsSinceEpoch(rows.number(i, 3), Qt::UTC)});
    return list;
}

} // namespace

QList<Submission> PostgresIndex::submissions() {
    return m_pool.run([](PgConnection& db) {
        return submissionRows(
            db.exec("SELECT kind, site, sender, received FROM submissions ORDER BY id"));
    });
}

QList<Submission> PostgresIndex::latestSubmissions(int offset, int count) {
    return m_pool.run([&](PgConnection& db) {
        return submissionRows(db.exec("SELECT kind, site, sender, received FROM submissions "
                                      "ORDER BY id DESC LIMIT $1 OFFSET $2",
                                      PgParams().number(count).number(offset)));
    });
}

int PostgresIndex::submissionCount() {
    return m_pool.run([](PgConnection& db) {
        return static_cast<int>(db.exec("SELECT count(*) FROM submissions").number(0, 0));
    });
}

SavedSearchStore::Added PostgresIndex::addSavedSearch(SavedSearch& search) {
    return m_saved.add(search);
}

QList<SavedSearch> PostgresIndex::savedSearches() {
    return m_saved.all();
}

std::optional<SavedSearch> PostgresIndex::savedSearch(qint64 id) {
    return m_saved.one(id);
}

bool PostgresIndex::removeSavedSearch(qint64 id) {
    return m_saved.remove(id);
}

bool PostgresIndex::markSavedSeen(qint64 id) {
    return m_saved.markSeen(id);
}

QSet<QString> PostgresIndex::savedMatchKeys(qint64 id) {
    return m_saved.matchKeys(id);
}

bool PostgresIndex::recordSavedRun(qint64 id, const QList<SavedMatch>& found, const QDateTime& at) {
    return m_saved.recordRun(id, found, at);
}

QList<SavedMatch> PostgresIndex::newSavedMatches(qint64 id) {
    return m_saved.newMatches(id);
}

qint64 PostgresIndex::beginCrawl(const CrawlSource& source) {
    qint64 crawl = 0;
    m_pool.transaction([&](PgConnection& db) {
        crawl = db.exec("UPDATE crawl_sources SET last_crawl = last_crawl + 1, running = true, "
                        "last_started = clock_timestamp() WHERE num = $1 RETURNING last_crawl",
                        PgParams().number(sourceNumber(db, source)))
                    .number(0, 0);
    });
    return crawl;
}

QByteArray PostgresIndex::folderFingerprint(const CrawlSource& source, const QString& folder) {
    return m_pool.run([&](PgConnection& db) {
        const PgResult rows =
            db.exec("SELECT fingerprint FROM crawl_folders f JOIN crawl_sources s "
                    "ON s.num = f.source WHERE s.id = $1 AND f.path = $2",
                    PgParams().text(source.id).text(folder));
        return rows.rows() > 0 ? rows.bytes(0, 0) : QByteArray();
    });
}

QList<CrawledFile> PostgresIndex::folderFiles(const CrawlSource& source, const QString& folder) {
    return m_pool.run([&](PgConnection& db) {
        const PgResult rows =
            db.exec("SELECT path, size, modified, etag, head_read, frame, artist, title "
                    "FROM crawl_files f JOIN crawl_sources s ON s.num = f.source "
                    "WHERE s.id = $1 AND f.folder = $2 ORDER BY path COLLATE \"C\"",
                    PgParams().text(source.id).text(folder));
        QList<CrawledFile> files;
        for (int i = 0; i < rows.rows(); ++i) {
            CrawledFile file;
            file.path = rows.text(i, 0);
            file.size = rows.number(i, 1);
            if (!rows.isNull(i, 2))
                file.modified = QDateTime::fromMSecsSinceEpoch(rows.number(i, 2), Qt::UTC);
            file.etag = rows.bytes(i, 3);
            file.headRead = rows.boolean(i, 4);
            file.head.frame = unpackFrame(rows.bytes(i, 5));
            file.head.artist = rows.text(i, 6);
            file.head.title = rows.text(i, 7);
            files.append(file);
        }
        return files;
    });
}

void PostgresIndex::storeFolder(const CrawlSource& source, qint64 crawl, const QString& folder,
                                const QByteArray& fingerprint, const QList<CrawledFile>& files) {
    const QList<CrawledFile> own = CrawlRecords::filesOfFolder(folder, files);
    m_pool.transaction([&](PgConnection& db) {
        const qint64 number = sourceNumber(db, source);
        db.exec("INSERT INTO crawl_folders(source, path, fingerprint, seen) "
                "VALUES($1, $2, $3, $4) ON CONFLICT(source, path) DO UPDATE SET "
                "fingerprint = excluded.fingerprint, seen = excluded.seen",
                PgParams().number(number).text(folder).bytes(fingerprint).number(crawl));
        db.exec("DELETE FROM crawl_files WHERE source = $1 AND folder = $2",
                PgParams().number(number).text(folder));
        insertRows(
            db,
            QStringLiteral("INSERT INTO crawl_files(source, folder, path, size, modified, etag, "
                           "head_read, frame, has_quality, bitrate, sample_rate, mode, artist, "
                           "title, seen, rate_mode, verdict, words)"),
            QStringLiteral("?::bigint, ?::text, ?::text, ?::bigint, ?::bigint, ?::bytea, "
                           "?::boolean, ?::bytea, ?::boolean, ?::integer, ?::integer, ?::text, "
                           "?::text, ?::text, ?::bigint, ?::text, ?::text, ") +
                QLatin1String(kWords),
            QString(), own, [&](PgParams& params, const CrawledFile& file) {
                const FrameHeader& frame = file.head.frame;
                const bool quality = file.headRead && file.head.hasQuality();
                params.number(number).text(folder).text(file.path);
                params.number(file.size < 0 ? -1 : file.size);
                if (file.modified.isValid())
                    params.number(file.modified.toMSecsSinceEpoch());
                else
                    params.null();
                params.bytes(file.etag).boolean(file.headRead).bytes(packFrame(frame));
                params.boolean(quality);
                params.number(quality ? frame.quality.bitrate : 0);
                params.number(quality ? frame.sampleRate.toLongLong() : 0);
                params.text(quality ? QString::fromLatin1(frame.mode) : QString());
                params.text(file.head.artist).text(file.head.title).number(crawl);
                params.text(QString::fromLatin1(rateModeName(frame.quality.mode)));
                params.text(QString::fromLatin1(verdictName(frame.quality.verdict)));
                params.text(
                    lexemes(IndexWords::ofFile(file.path, file.head.artist, file.head.title)));
            });
    });
}

void PostgresIndex::keepFolder(const CrawlSource& source, qint64 crawl, const QString& folder) {
    m_pool.transaction([&](PgConnection& db) {
        const qint64 number = sourceNumber(db, source);
        for (const char* sql :
             {"UPDATE crawl_folders SET seen = $3 WHERE source = $1 AND path = $2",
              "UPDATE crawl_files SET seen = $3 WHERE source = $1 AND folder = $2"})
            db.exec(sql, PgParams().number(number).text(folder).number(crawl));
    });
}

void PostgresIndex::keepSubtree(const CrawlSource& source, qint64 crawl, const QString& folder) {
    m_pool.transaction([&](PgConnection& db) {
        const qint64 number = sourceNumber(db, source);
        // The folder and those below it ("a" holds "a/b", not "ab"); '' is the whole source.
        for (const char* sql :
             {"UPDATE crawl_folders SET seen = $3 WHERE source = $1 AND ($2::text = '' OR "
              "path = $2::text OR left(path, length($2::text) + 1) = $2::text || '/')",
              "UPDATE crawl_files SET seen = $3 WHERE source = $1 AND ($2::text = '' OR "
              "folder = $2::text OR left(folder, length($2::text) + 1) = $2::text || '/')"})
            db.exec(sql, PgParams().number(number).text(folder).number(crawl));
    });
}

void PostgresIndex::finishCrawl(const CrawlSource& source, qint64 crawl, const WalkErrors& errors) {
    m_pool.transaction([&](PgConnection& db) {
        const qint64 number = sourceNumber(db, source);
        // What could not be read was kept (keepSubtree, keepFolder): the rest is gone.
        for (const char* sql : {"DELETE FROM crawl_files WHERE source = $1 AND seen < $2",
                                "DELETE FROM crawl_folders WHERE source = $1 AND seen < $2"})
            db.exec(sql, PgParams().number(number).number(crawl));
        db.exec("UPDATE crawl_sources SET running = false, stale = false, "
                "last_finished = clock_timestamp(), last_error = $2 WHERE num = $1",
                PgParams().number(number).text(CrawlRecords::finishedWith(errors)));
    });
}

void PostgresIndex::abandonCrawl(const CrawlSource& source, qint64, const QString& reason) {
    m_pool.transaction([&](PgConnection& db) {
        db.exec(
            "UPDATE crawl_sources SET running = false, stale = true, "
            "last_finished = clock_timestamp(), last_error = $2 WHERE num = $1",
            PgParams().number(sourceNumber(db, source)).text(CrawlRecords::abandonedFor(reason)));
    });
}

QDateTime PostgresIndex::leaseClock() {
    return m_pool.run([](PgConnection& db) {
        return fromMs(db.exec("SELECT " PG_MS("clock_timestamp()")), 0, 0);
    });
}

SourceLeases::Claim PostgresIndex::claimSource(const CrawlSource& source, const QString& holder,
                                               std::chrono::seconds length,
                                               const QDateTime& doneSince) {
    PgParams params;
    params.text(source.id).text(holder).number(length.count());
    if (doneSince.isValid())
        params.number(doneSince.toMSecsSinceEpoch());
    else
        params.null();
    // One statement takes the lease; the second column tells a refusal's cause from the
    // row as it was before.
    const PgResult result = m_pool.run([&](PgConnection& db) {
        return db.exec(
            "WITH since AS (SELECT to_timestamp($4::bigint / 1000.0) AS at), "
            "claim AS (INSERT INTO source_leases(source, holder, expires) "
            "VALUES($1, $2, now() + make_interval(secs => $3::bigint)) "
            "ON CONFLICT(source) DO UPDATE SET holder = excluded.holder, "
            "expires = excluded.expires WHERE (source_leases.holder IN (excluded.holder, '') "
            "OR source_leases.expires <= now()) AND (source_leases.done_at IS NULL OR "
            "$4::bigint IS NULL OR source_leases.done_at < (SELECT at FROM since)) RETURNING 1) "
            "SELECT (SELECT count(*) FROM claim), coalesce((SELECT done_at >= (SELECT at FROM "
            "since) FROM source_leases WHERE source = $1), false)",
            params);
    });
    if (result.number(0, 0) > 0)
        return Claim::Taken;
    return result.boolean(0, 1) ? Claim::DoneSince : Claim::HeldElsewhere;
}

bool PostgresIndex::renewSource(const CrawlSource& source, const QString& holder,
                                std::chrono::seconds length) {
    return m_pool.run([&](PgConnection& db) {
        return db.exec("UPDATE source_leases SET expires = now() + make_interval(secs => "
                       "$3::bigint) WHERE source = $1 AND holder = $2 RETURNING 1",
                       PgParams().text(source.id).text(holder).number(length.count()))
                   .rows() > 0;
    });
}

void PostgresIndex::releaseSource(const CrawlSource& source, const QString& holder, bool done) {
    m_pool.run([&](PgConnection& db) {
        db.exec("UPDATE source_leases SET holder = '', expires = now(), done_at = CASE WHEN $3 "
                "THEN now() ELSE done_at END WHERE source = $1 AND holder = $2",
                PgParams().text(source.id).text(holder).boolean(done));
    });
}
