#pragma once

#include "searchd/ServiceError.h"
#include <QByteArray>
#include <QString>

#include <mutex>

struct sqlite3;
struct sqlite3_stmt;

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
    void bindBlob(int index, const QByteArray& bytes);
    bool step(); // true while there is a row
    void reset();

    QString text(int column) const;
    qint64 integer(int column) const;
    QByteArray blob(int column) const;

private:
    SqliteDatabase& m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

// A transaction that rolls back unless committed. IMMEDIATE takes the write lock at once,
// so that a writer never has to upgrade a read lock another connection holds.
class SqliteTransaction {
public:
    explicit SqliteTransaction(SqliteDatabase& db, const char* begin = "BEGIN") : m_db(db) {
        m_db.exec(begin);
    }
    ~SqliteTransaction() {
        if (!m_committed)
            rollbackQuietly();
    }
    SqliteTransaction(const SqliteTransaction&) = delete;
    SqliteTransaction& operator=(const SqliteTransaction&) = delete;
    void commit() {
        m_db.exec("COMMIT");
        m_committed = true;
    }

private:
    void rollbackQuietly() noexcept {
        try {
            m_db.exec("ROLLBACK");
        } catch (const ServiceError&) {
        }
    }
    SqliteDatabase& m_db;
    bool m_committed = false;
};
