#pragma once

#include "searchd/IndexTypes.h"

#include <QDateTime>
#include <QList>
#include <QString>

class SqliteDatabase;

// The reported sites, kept in the service's database.
class SubmissionStore {
public:
    explicit SubmissionStore(SqliteDatabase& db);

    void add(const Submission& submission);
    QList<Submission> all(); // oldest first

    // A small HTML page listing them, newest first.
    QByteArray page();

private:
    SqliteDatabase& m_db;
};
