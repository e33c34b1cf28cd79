#include "searchd/index/sqlite/SqliteSchema.h"

#include "searchd/index/IndexWords.h"
#include "searchd/index/sqlite/SqliteDatabase.h"

#include <string>

namespace {

// Words are reduced by IndexWords before they reach the index: FTS5 only has to split them
// at the blanks, which its ascii tokenizer does without touching non-ASCII letters.
const char* const kTables[] = {
    "CREATE TABLE files(id INTEGER PRIMARY KEY, path TEXT UNIQUE NOT NULL, "
    "size INTEGER NOT NULL, modified INTEGER NOT NULL, artist TEXT NOT NULL, "
    "title TEXT NOT NULL, frame BLOB NOT NULL DEFAULT x'', "
    "quality_version INTEGER NOT NULL DEFAULT 0, has_quality INTEGER NOT NULL DEFAULT 0, "
    "bitrate INTEGER NOT NULL DEFAULT 0, verdict TEXT NOT NULL DEFAULT 'unknown')",
    "CREATE VIRTUAL TABLE files_fts USING fts5(words, tokenize='ascii', prefix='1 2 3')",
    "CREATE TABLE crawl_sources(num INTEGER PRIMARY KEY, id TEXT UNIQUE NOT NULL, "
    "url TEXT NOT NULL, login TEXT NOT NULL, kind TEXT NOT NULL, "
    "last_crawl INTEGER NOT NULL DEFAULT 0, last_started TEXT NOT NULL DEFAULT '', "
    "last_finished TEXT NOT NULL DEFAULT '', running INTEGER NOT NULL DEFAULT 0, "
    "stale INTEGER NOT NULL DEFAULT 0, last_error TEXT NOT NULL DEFAULT '')",
    "CREATE TABLE crawl_folders(source INTEGER NOT NULL, path TEXT NOT NULL, "
    "fingerprint BLOB NOT NULL, seen INTEGER NOT NULL, PRIMARY KEY(source, path)) "
    "WITHOUT ROWID",
    "CREATE TABLE crawl_files(id INTEGER PRIMARY KEY, source INTEGER NOT NULL, "
    "folder TEXT NOT NULL, path TEXT NOT NULL, size INTEGER NOT NULL, modified TEXT NOT NULL, "
    "etag BLOB NOT NULL, head_read INTEGER NOT NULL, frame BLOB NOT NULL, "
    "has_quality INTEGER NOT NULL, bitrate INTEGER NOT NULL, sample_rate INTEGER NOT NULL, "
    "mode TEXT NOT NULL, artist TEXT NOT NULL, title TEXT NOT NULL, seen INTEGER NOT NULL, "
    "rate_mode TEXT NOT NULL DEFAULT 'CBR', verdict TEXT NOT NULL DEFAULT 'unknown', "
    "UNIQUE(source, path))",
    "CREATE INDEX crawl_files_folder ON crawl_files(source, folder)",
    "CREATE VIRTUAL TABLE crawl_fts USING fts5(words, tokenize='ascii', prefix='1 2 3')",
    "CREATE TABLE crawl_leases(source TEXT PRIMARY KEY, holder TEXT NOT NULL, "
    "expires TEXT NOT NULL, done_at TEXT NOT NULL DEFAULT '')",
    "CREATE TABLE IF NOT EXISTS submissions(id INTEGER PRIMARY KEY, kind TEXT NOT NULL, "
    "site TEXT NOT NULL, sender TEXT NOT NULL, received INTEGER NOT NULL)",
};

// The saved searches (times in milliseconds since the epoch, 0 for never) and the files each
// has found.
const char* const kSavedTables[] = {
    "CREATE TABLE saved_searches(id INTEGER PRIMARY KEY AUTOINCREMENT, words TEXT NOT NULL, "
    "kind TEXT NOT NULL, min_bitrate INTEGER NOT NULL, genuine_only INTEGER NOT NULL, "
    "sameness TEXT UNIQUE NOT NULL, saved_at INTEGER NOT NULL, "
    "last_run INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE saved_matches(num INTEGER PRIMARY KEY, search INTEGER NOT NULL, "
    "key TEXT NOT NULL, name TEXT NOT NULL, url TEXT NOT NULL, kind TEXT NOT NULL, "
    "size INTEGER NOT NULL, bitrate INTEGER NOT NULL, mode TEXT NOT NULL, "
    "verdict TEXT NOT NULL, found_at INTEGER NOT NULL, is_new INTEGER NOT NULL, "
    "UNIQUE(search, key))",
};

bool hasTable(SqliteDatabase& db, const char* name) {
    SqliteStatement query(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1");
    query.bind(1, QString::fromLatin1(name));
    return query.step();
}

qint64 single(SqliteDatabase& db, const char* sql) {
    SqliteStatement query(db, sql);
    return query.step() ? query.integer(0) : 0;
}

void setVersion(SqliteDatabase& db, int version) {
    db.exec("DELETE FROM pellmar_schema");
    db.exec(
        ("INSERT INTO pellmar_schema(version) VALUES(" + std::to_string(version) + ")").c_str());
}

// Files of the first layout kept the library's version in user_version and the crawl's in a
// table of its own; either may be missing.
int versionOfFirstLayout(SqliteDatabase& db) {
    if (hasTable(db, "files") || hasTable(db, "crawl_schema") || hasTable(db, "submissions"))
        return 1;
    return 0;
}

// Fills a word table anew from the rows it indexes.
void refillWords(SqliteDatabase& db, const char* table, const char* rows) {
    db.exec((std::string("DELETE FROM ") + table).c_str());
    SqliteStatement read(db, rows);
    SqliteStatement write(
        db, (std::string("INSERT INTO ") + table + "(rowid, words) VALUES(?1, ?2)").c_str());
    while (read.step()) {
        write.bind(1, read.integer(0));
        write.bind(2, IndexWords::ofFile(read.text(1), read.text(2), read.text(3)));
        write.step();
        write.reset();
    }
}

// Version 1 matched with FTS5's own word rules over three columns; version 2 keeps the words
// IndexWords reduced, in one column, and the crawlers' leases.
void upgradeFrom1(SqliteDatabase& db) {
    if (!hasTable(db, "files"))
        db.exec(kTables[0]);
    db.exec("DROP TABLE IF EXISTS files_fts");
    db.exec(kTables[1]);
    refillWords(db, "files_fts", "SELECT id, path, artist, title FROM files");
    if (hasTable(db, "crawl_files")) {
        db.exec("DROP TABLE IF EXISTS crawl_fts");
        db.exec(kTables[6]);
        refillWords(db, "crawl_fts", "SELECT id, path, artist, title FROM crawl_files");
    } else { // a file from before the crawler
        for (int i = 2; i <= 6; ++i)
            db.exec(kTables[i]);
    }
    db.exec(kTables[7]);
    db.exec(kTables[8]);
    db.exec("DROP TABLE IF EXISTS crawl_schema");
    db.exec("PRAGMA user_version = 0");
}

bool hasColumn(SqliteDatabase& db, const char* table, const char* column) {
    SqliteStatement query(db, "SELECT 1 FROM pragma_table_info(?1) WHERE name = ?2");
    query.bind(1, QString::fromLatin1(table));
    query.bind(2, QString::fromLatin1(column));
    return query.step();
}

// Version 3 keeps the quality of the library's files and each crawled file's rate mode and
// transcode verdict. Rows from before keep the defaults until the next scan or walk reads
// their heads again. Tables made at this layout by the upgrade from version 1 have them.
void upgradeFrom2(SqliteDatabase& db) {
    if (!hasColumn(db, "files", "frame")) {
        db.exec("ALTER TABLE files ADD COLUMN frame BLOB NOT NULL DEFAULT x''");
        db.exec("ALTER TABLE files ADD COLUMN quality_version INTEGER NOT NULL DEFAULT 0");
        db.exec("ALTER TABLE files ADD COLUMN has_quality INTEGER NOT NULL DEFAULT 0");
        db.exec("ALTER TABLE files ADD COLUMN bitrate INTEGER NOT NULL DEFAULT 0");
        db.exec("ALTER TABLE files ADD COLUMN verdict TEXT NOT NULL DEFAULT 'unknown'");
    }
    if (!hasColumn(db, "crawl_files", "verdict")) {
        db.exec("ALTER TABLE crawl_files ADD COLUMN rate_mode TEXT NOT NULL DEFAULT 'CBR'");
        db.exec("ALTER TABLE crawl_files ADD COLUMN verdict TEXT NOT NULL DEFAULT 'unknown'");
    }
}

// Version 4 keeps the saved searches.
void upgradeFrom3(SqliteDatabase& db) {
    for (const char* sql : kSavedTables)
        db.exec(sql);
}

void create(SqliteDatabase& db) {
    for (const char* sql : kTables)
        db.exec(sql);
    upgradeFrom3(db);
}

} // namespace

void SqliteSchema::prepare(SqliteDatabase& db, const QString& described) {
    std::lock_guard lock(db.mutex());
    SqliteTransaction transaction(db, "BEGIN IMMEDIATE");
    int version = hasTable(db, "pellmar_schema")
                      ? static_cast<int>(single(db, "SELECT max(version) FROM pellmar_schema"))
                      : versionOfFirstLayout(db);
    if (version > kVersion)
        throw ServiceError(
            QStringLiteral("the index in %1 has schema version %2; this pellmar-searchd knows "
                           "up to %3")
                .arg(described, QString::number(version), QString::number(kVersion)));
    if (version == kVersion)
        return;
    db.exec("CREATE TABLE IF NOT EXISTS pellmar_schema(version INTEGER NOT NULL)");
    if (version == 0) {
        create(db);
    } else {
        if (version == 1)
            upgradeFrom1(db);
        if (version <= 2)
            upgradeFrom2(db);
        upgradeFrom3(db);
    }
    setVersion(db, kVersion);
    transaction.commit();
}
