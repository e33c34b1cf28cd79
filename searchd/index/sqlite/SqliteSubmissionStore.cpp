#include "searchd/index/sqlite/SqliteSubmissionStore.h"

#include "searchd/index/sqlite/SqliteDatabase.h"

SqliteSubmissionStore::SqliteSubmissionStore(SqliteDatabase& db) : m_db(db) {}

namespace {

QList<Submission> rows(SqliteStatement& select) {
    QList<Submission> list;
    while (select.step())
        list.append({select.text(0), select.text(1), select.text(2),
                     QDateTime::fromSecsSinceEpoch(select.integer(3), Qt::UTC)});
    return list;
}

} // namespace

void SqliteSubmissionStore::add(const Submission& submission, int keep) {
    std::lock_guard lock(m_db.mutex());
    SqliteStatement insert(m_db, "INSERT INTO submissions(kind, site, sender, received) "
                                 "VALUES(?1, ?2, ?3, ?4)");
    insert.bind(1, submission.kind);
    insert.bind(2, submission.site);
    insert.bind(3, submission.from);
    insert.bind(4, submission.received.toSecsSinceEpoch());
    insert.step();
    SqliteStatement trim(m_db, "DELETE FROM submissions WHERE id <= (SELECT id FROM submissions "
                               "ORDER BY id DESC LIMIT 1 OFFSET ?1)");
    trim.bind(1, static_cast<qint64>(keep));
    trim.step();
}

QList<Submission> SqliteSubmissionStore::all() {
    std::lock_guard lock(m_db.mutex());
    SqliteStatement select(m_db, "SELECT kind, site, sender, received FROM submissions "
                                 "ORDER BY id");
    return rows(select);
}

QList<Submission> SqliteSubmissionStore::latest(int offset, int count) {
    std::lock_guard lock(m_db.mutex());
    SqliteStatement select(m_db, "SELECT kind, site, sender, received FROM submissions "
                                 "ORDER BY id DESC LIMIT ?1 OFFSET ?2");
    select.bind(1, static_cast<qint64>(count));
    select.bind(2, static_cast<qint64>(offset));
    return rows(select);
}

int SqliteSubmissionStore::count() {
    std::lock_guard lock(m_db.mutex());
    SqliteStatement select(m_db, "SELECT count(*) FROM submissions");
    return select.step() ? static_cast<int>(select.integer(0)) : 0;
}
