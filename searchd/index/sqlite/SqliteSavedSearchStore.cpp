#include "searchd/index/sqlite/SqliteSavedSearchStore.h"

#include "searchd/index/sqlite/SqliteDatabase.h"

#include <sqlite3.h>

namespace {

// Times are kept as milliseconds since the epoch; 0 is "never".
QDateTime fromMs(qint64 ms) {
    return ms > 0 ? QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC) : QDateTime();
}

qint64 toMs(const QDateTime& time) {
    return time.isValid() ? time.toMSecsSinceEpoch() : 0;
}

const char* const kSearchColumns =
    "SELECT id, words, kind, min_bitrate, genuine_only, saved_at, last_run FROM saved_searches";

SavedSearch searchRow(const SqliteStatement& row) {
    return {row.integer(0),        row.text(1),         row.text(2),
            int(row.integer(3)),   row.integer(4) != 0, fromMs(row.integer(5)),
            fromMs(row.integer(6))};
}

} // namespace

SqliteSavedSearchStore::SqliteSavedSearchStore(SqliteDatabase& db) : m_db(db) {}

SavedSearchStore::Added SqliteSavedSearchStore::add(SavedSearch& search) {
    std::lock_guard lock(m_db.mutex());
    SqliteTransaction transaction(m_db, "BEGIN IMMEDIATE");
    SqliteStatement count(m_db, "SELECT count(*) FROM saved_searches");
    if (count.step() && count.integer(0) >= SavedSearchStore::kMaxSearches)
        return SavedSearchStore::Added::Full;
    search.savedAt = QDateTime::fromMSecsSinceEpoch(
        QDateTime::currentDateTimeUtc().toMSecsSinceEpoch(), Qt::UTC);
    search.lastRun = QDateTime();
    SqliteStatement insert(m_db,
                           "INSERT OR IGNORE INTO saved_searches(words, kind, min_bitrate, "
                           "genuine_only, sameness, saved_at) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    insert.bind(1, search.words);
    insert.bind(2, search.kind);
    insert.bind(3, qint64(search.minBitrate));
    insert.bind(4, qint64(search.genuineOnly));
    insert.bind(5, search.sameness());
    insert.bind(6, toMs(search.savedAt));
    insert.step();
    if (sqlite3_changes(m_db.handle()) == 0)
        return SavedSearchStore::Added::Duplicate;
    search.id = sqlite3_last_insert_rowid(m_db.handle());
    transaction.commit();
    return SavedSearchStore::Added::Saved;
}

QList<SavedSearch> SqliteSavedSearchStore::all() {
    std::lock_guard lock(m_db.mutex());
    SqliteStatement select(m_db, (QByteArray(kSearchColumns) + " ORDER BY id").constData());
    QList<SavedSearch> list;
    while (select.step())
        list.append(searchRow(select));
    return list;
}

std::optional<SavedSearch> SqliteSavedSearchStore::one(qint64 id) {
    std::lock_guard lock(m_db.mutex());
    SqliteStatement select(m_db, (QByteArray(kSearchColumns) + " WHERE id = ?1").constData());
    select.bind(1, id);
    if (!select.step())
        return std::nullopt;
    return searchRow(select);
}

bool SqliteSavedSearchStore::exists(qint64 id) {
    SqliteStatement select(m_db, "SELECT 1 FROM saved_searches WHERE id = ?1");
    select.bind(1, id);
    return select.step();
}

bool SqliteSavedSearchStore::remove(qint64 id) {
    std::lock_guard lock(m_db.mutex());
    SqliteTransaction transaction(m_db, "BEGIN IMMEDIATE");
    if (!exists(id))
        return false;
    for (const char* sql : {"DELETE FROM saved_matches WHERE search = ?1",
                            "DELETE FROM saved_searches WHERE id = ?1"}) {
        SqliteStatement remove(m_db, sql);
        remove.bind(1, id);
        remove.step();
    }
    transaction.commit();
    return true;
}

bool SqliteSavedSearchStore::markSeen(qint64 id) {
    std::lock_guard lock(m_db.mutex());
    SqliteTransaction transaction(m_db, "BEGIN IMMEDIATE");
    if (!exists(id))
        return false;
    SqliteStatement update(m_db, "UPDATE saved_matches SET is_new = 0 WHERE search = ?1");
    update.bind(1, id);
    update.step();
    transaction.commit();
    return true;
}

QSet<QString> SqliteSavedSearchStore::matchKeys(qint64 id) {
    std::lock_guard lock(m_db.mutex());
    SqliteStatement select(m_db, "SELECT key FROM saved_matches WHERE search = ?1");
    select.bind(1, id);
    QSet<QString> keys;
    while (select.step())
        keys.insert(select.text(0));
    return keys;
}

bool SqliteSavedSearchStore::recordRun(qint64 id, const QList<SavedMatch>& found,
                                       const QDateTime& at) {
    std::lock_guard lock(m_db.mutex());
    SqliteTransaction transaction(m_db, "BEGIN IMMEDIATE");
    SqliteStatement search(m_db, "SELECT last_run FROM saved_searches WHERE id = ?1");
    search.bind(1, id);
    if (!search.step())
        return false;
    const bool firstRun = search.integer(0) == 0;
    SqliteStatement insert(m_db, "INSERT OR IGNORE INTO saved_matches(search, key, name, url, "
                                 "kind, size, bitrate, mode, verdict, found_at, is_new) "
                                 "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
    for (const SavedMatch& match : found) {
        insert.bind(1, id);
        insert.bind(2, match.key);
        insert.bind(3, match.name);
        insert.bind(4, match.url);
        insert.bind(5, match.kind);
        insert.bind(6, match.size);
        insert.bind(7, qint64(match.bitrate));
        insert.bind(8, match.mode);
        insert.bind(9, match.verdict);
        insert.bind(10, toMs(at));
        insert.bind(11, qint64(!firstRun));
        insert.step();
        insert.reset();
    }
    // The new ones stay; of the seen ones the latest found are kept.
    SqliteStatement trim(m_db, "DELETE FROM saved_matches WHERE num IN (SELECT num FROM "
                               "saved_matches WHERE search = ?1 ORDER BY is_new DESC, "
                               "found_at DESC, num DESC LIMIT -1 OFFSET ?2)");
    trim.bind(1, id);
    trim.bind(2, qint64(SavedSearchStore::kMaxMatches));
    trim.step();
    SqliteStatement ran(m_db, "UPDATE saved_searches SET last_run = ?2 WHERE id = ?1");
    ran.bind(1, id);
    ran.bind(2, toMs(at));
    ran.step();
    transaction.commit();
    return true;
}

QList<SavedMatch> SqliteSavedSearchStore::newMatches(qint64 id) {
    std::lock_guard lock(m_db.mutex());
    SqliteStatement select(m_db, "SELECT key, name, url, kind, size, bitrate, mode, verdict, "
                                 "found_at FROM saved_matches WHERE search = ?1 AND is_new "
                                 "ORDER BY found_at DESC, num");
    select.bind(1, id);
    QList<SavedMatch> list;
    while (select.step())
        list.append({select.text(0), select.text(1), select.text(2), select.text(3),
                     select.integer(4), int(select.integer(5)), select.text(6), select.text(7),
                     fromMs(select.integer(8)), true});
    return list;
}
