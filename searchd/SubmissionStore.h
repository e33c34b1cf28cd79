#pragma once

#include "searchd/IndexTypes.h"

#include <QDateTime>
#include <QList>
#include <QString>

class SqliteDatabase;

// The reported sites in the SQLite engine.
class SubmissionStore {
public:
    explicit SubmissionStore(SqliteDatabase& db);

    void add(const Submission& submission);
    QList<Submission> all(); // oldest first

private:
    SqliteDatabase& m_db;
};
