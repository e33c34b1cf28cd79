#include "searchd/SubmissionStore.h"

#include "searchd/SqliteDatabase.h"

SubmissionStore::SubmissionStore(SqliteDatabase& db) : m_db(db) {}

void SubmissionStore::add(const Submission& submission) {
    std::lock_guard lock(m_db.mutex());
    SqliteStatement insert(m_db, "INSERT INTO submissions(kind, site, sender, received) "
                                 "VALUES(?1, ?2, ?3, ?4)");
    insert.bind(1, submission.kind);
    insert.bind(2, submission.site);
    insert.bind(3, submission.from);
    insert.bind(4, submission.received.toSecsSinceEpoch());
    insert.step();
}

QList<Submission> SubmissionStore::all() {
    std::lock_guard lock(m_db.mutex());
    SqliteStatement select(m_db, "SELECT kind, site, sender, received FROM submissions "
                                 "ORDER BY id");
    QList<Submission> list;
    while (select.step())
        list.append({select.text(0), select.text(1), select.text(2),
                     QDateTime::fromSecsSinceEpoch(select.integer(3), Qt::UTC)});
    return list;
}
