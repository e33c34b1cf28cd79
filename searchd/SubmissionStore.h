#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

class SqliteDatabase;

// A site reported through one of the "/cgi-bin/" submission requests.
struct Submission {
    QString kind; // "ftp", "http", "smb" or "mysmb"
    QString site; // as sent; for "mysmb" the caller's address
    QString from; // the caller's address
    QDateTime received;
};

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
