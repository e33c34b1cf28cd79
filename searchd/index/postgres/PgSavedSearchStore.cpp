#include "searchd/index/postgres/PgSavedSearchStore.h"

#include "searchd/index/postgres/PgConnection.h"

namespace {

// Times are kept as milliseconds since the epoch; 0 is "never".
QDateTime fromMs(qint64 ms) {
    return ms > 0 ? QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC) : QDateTime();
}

qint64 toMs(const QDateTime& time) {
    return time.isValid() ? time.toMSecsSinceEpoch() : 0;
}

const char* const kSearchColumns = "SELECT id, words, kind, min_bitrate, genuine_only, saved_at, "
                                   "last_run FROM saved_searches";

QList<SavedSearch> searchRows(const PgResult& rows) {
    QList<SavedSearch> list;
    for (int i = 0; i < rows.rows(); ++i)
        list.append({rows.number(i, 0), rows.text(i, 1), rows.text(i, 2), int(rows.number(i, 3)),
                     rows.boolean(i, 4), fromMs(rows.number(i, 5)), fromMs(rows.number(i, 6))});
    return list;
}

} // namespace

PgSavedSearchStore::PgSavedSearchStore(PgPool& pool) : m_pool(pool) {}

SavedSearchStore::Added PgSavedSearchStore::add(SavedSearch& search) {
    SavedSearchStore::Added added = SavedSearchStore::Added::Saved;
    m_pool.transaction([&](PgConnection& db) {
        // Services sharing the index count the searches one after another.
        db.exec("LOCK TABLE saved_searches IN SHARE ROW EXCLUSIVE MODE");
        if (db.exec("SELECT count(*) FROM saved_searches").number(0, 0) >=
            SavedSearchStore::kMaxSearches) {
            added = SavedSearchStore::Added::Full;
            return;
        }
        search.savedAt = QDateTime::fromMSecsSinceEpoch(
            QDateTime::currentDateTimeUtc().toMSecsSinceEpoch(), Qt::UTC);
        search.lastRun = QDateTime();
        const PgResult row =
            db.exec("INSERT INTO saved_searches(words, kind, min_bitrate, genuine_only, sameness, "
                    "saved_at) VALUES($1, $2, $3, $4, $5, $6) ON CONFLICT(sameness) DO NOTHING "
                    "RETURNING id",
                    PgParams()
                        .text(search.words)
                        .text(search.kind)
                        .number(search.minBitrate)
                        .boolean(search.genuineOnly)
                        .text(search.sameness())
                        .number(toMs(search.savedAt)));
        added =
            row.rows() > 0 ? SavedSearchStore::Added::Saved : SavedSearchStore::Added::Duplicate;
        search.id = row.rows() > 0 ? row.number(0, 0) : 0;
    });
    return added;
}

QList<SavedSearch> PgSavedSearchStore::all() {
    return m_pool.run([](PgConnection& db) {
        return searchRows(db.exec((QByteArray(kSearchColumns) + " ORDER BY id").constData()));
    });
}

std::optional<SavedSearch> PgSavedSearchStore::one(qint64 id) {
    const QList<SavedSearch> found = m_pool.run([&](PgConnection& db) {
        return searchRows(db.exec((QByteArray(kSearchColumns) + " WHERE id = $1").constData(),
                                  PgParams().number(id)));
    });
    return found.isEmpty() ? std::nullopt : std::optional<SavedSearch>(found.first());
}

bool PgSavedSearchStore::remove(qint64 id) {
    // Its matches go with it (ON DELETE CASCADE).
    return m_pool.run([&](PgConnection& db) {
        return db.exec("DELETE FROM saved_searches WHERE id = $1 RETURNING id",
                       PgParams().number(id))
                   .rows() > 0;
    });
}

bool PgSavedSearchStore::markSeen(qint64 id) {
    bool found = false;
    m_pool.transaction([&](PgConnection& db) {
        found =
            db.exec("SELECT 1 FROM saved_searches WHERE id = $1", PgParams().number(id)).rows() > 0;
        db.exec("UPDATE saved_matches SET is_new = false WHERE search = $1 AND is_new",
                PgParams().number(id));
    });
    return found;
}

QSet<QString> PgSavedSearchStore::matchKeys(qint64 id) {
    return m_pool.run([&](PgConnection& db) {
        const PgResult rows =
            db.exec("SELECT key FROM saved_matches WHERE search = $1", PgParams().number(id));
        QSet<QString> keys;
        for (int i = 0; i < rows.rows(); ++i)
            keys.insert(rows.text(i, 0));
        return keys;
    });
}

bool PgSavedSearchStore::recordRun(qint64 id, const QList<SavedMatch>& found, const QDateTime& at) {
    bool exists = false;
    m_pool.transaction([&](PgConnection& db) {
        const PgResult search = db.exec(
            "SELECT last_run FROM saved_searches WHERE id = $1 FOR UPDATE", PgParams().number(id));
        exists = search.rows() > 0;
        if (!exists)
            return;
        const bool firstRun = search.number(0, 0) == 0;
        for (const SavedMatch& match : found)
            db.exec("INSERT INTO saved_matches(search, key, name, url, kind, size, bitrate, mode, "
                    "verdict, found_at, is_new) VALUES($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, "
                    "$11) ON CONFLICT(search, key) DO NOTHING",
                    PgParams()
                        .number(id)
                        .text(match.key)
                        .text(match.name)
                        .text(match.url)
                        .text(match.kind)
                        .number(match.size)
                        .number(match.bitrate)
                        .text(match.mode)
                        .text(match.verdict)
                        .number(toMs(at))
                        .boolean(!firstRun));
        // The new ones stay; of the seen ones the latest found are kept.
        db.exec("DELETE FROM saved_matches WHERE num IN (SELECT num FROM saved_matches "
                "WHERE search = $1 ORDER BY is_new DESC, found_at DESC, num DESC OFFSET $2)",
                PgParams().number(id).number(SavedSearchStore::kMaxMatches));
        db.exec("UPDATE saved_searches SET last_run = $2 WHERE id = $1",
                PgParams().number(id).number(toMs(at)));
    });
    return exists;
}

QList<SavedMatch> PgSavedSearchStore::newMatches(qint64 id) {
    return m_pool.run([&](PgConnection& db) {
        const PgResult rows =
            db.exec("SELECT key, name, url, kind, size, bitrate, mode, verdict, found_at FROM "
                    "saved_matches WHERE search = $1 AND is_new ORDER BY found_at DESC, num",
                    PgParams().number(id));
        QList<SavedMatch> list;
        for (int i = 0; i < rows.rows(); ++i)
            list.append({rows.text(i, 0), rows.text(i, 1), rows.text(i, 2), rows.text(i, 3),
                         rows.number(i, 4), int(rows.number(i, 5)), rows.text(i, 6),
                         rows.text(i, 7), fromMs(rows.number(i, 8)), true});
        return list;
    });
}
