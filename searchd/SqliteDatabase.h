#pragma once

#include <QString>
#include <mutex>
#include <stdexcept>

struct sqlite3;
struct sqlite3_stmt;

// A failure of the service that ends what it was doing: a database that cannot be opened,
// a library that cannot be read, a port that cannot be bound.
class ServiceError : public std::runtime_error {
public:
    explicit ServiceError(const QString& message) : std::runtime_error(message.toStdString()) {}
};

// One SQLite connection shared by the request threads; every use holds its mutex.
class SqliteDatabase {
public:
    explicit SqliteDatabase(const QString& path);
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    void exec(const char* sql);
    sqlite3* handle() const { return m_db; }
    std::mutex& mutex() { return m_mutex; }
    [[noreturn]] void fail(const char* what) const;

private:
    sqlite3* m_db = nullptr;
    std::mutex m_mutex;
};

// A prepared statement; bind indexes count from 1, column indexes from 0.
class SqliteStatement {
public:
    SqliteStatement(SqliteDatabase& db, const char* sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    void bind(int index, const QString& text);
    void bind(int index, qint64 value);
    bool step(); // true while there is a row
    void reset();

    QString text(int column) const;
    qint64 integer(int column) const;

private:
    SqliteDatabase& m_db;
    sqlite3_stmt* m_stmt = nullptr;
};
