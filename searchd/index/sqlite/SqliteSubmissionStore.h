#pragma once

#include "searchd/index/IndexTypes.h"

#include <QDateTime>
#include <QList>
#include <QString>

class SqliteDatabase;

// The reported sites in the SQLite engine.
class SqliteSubmissionStore {
public:
    explicit SqliteSubmissionStore(SqliteDatabase& db);

    void add(const Submission& submission, int keep); // then keeps the newest keep
    QList<Submission> all();                          // oldest first
    QList<Submission> latest(int offset, int count);  // newest first
    int count();

private:
    SqliteDatabase& m_db;
};
