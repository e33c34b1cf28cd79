#include "searchd/SubmissionStore.h"

#include "searchd/ResultPages.h"
#include "searchd/SqliteDatabase.h"

#include <algorithm>

SubmissionStore::SubmissionStore(SqliteDatabase& db) : m_db(db) {
    std::lock_guard lock(m_db.mutex());
    m_db.exec("CREATE TABLE IF NOT EXISTS submissions(id INTEGER PRIMARY KEY, "
              "kind TEXT NOT NULL, site TEXT NOT NULL, sender TEXT NOT NULL, "
              "received INTEGER NOT NULL)");
}

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

QByteArray SubmissionStore::page() {
    QList<Submission> list = all();
    std::reverse(list.begin(), list.end());
    QString rows;
    for (const Submission& s : list)
        rows += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>\n")
                    .arg(s.received.toString(Qt::ISODate), ResultPages::escapeHtml(s.kind),
                         ResultPages::escapeHtml(s.site), ResultPages::escapeHtml(s.from));
    const QString html =
        QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                       "<title>Submitted sites</title></head><body>\n"
                       "<h1>Submitted sites</h1>\n<p>%1 submissions.</p>\n"
                       "<table border=\"1\"><tr><th>Received (UTC)</th><th>Kind</th>"
                       "<th>Site</th><th>From</th></tr>\n%2</table></body></html>\n")
            .arg(QString::number(list.size()), rows);
    return html.toUtf8();
}
