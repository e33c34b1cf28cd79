#include "searchd/index/sqlite/SqliteDatabase.h"

#include <sqlite3.h>

SqliteDatabase::SqliteDatabase(const QString& path) {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, flags, nullptr) != SQLITE_OK) {
        const QString message = QStringLiteral("Cannot open the database %1: %2")
                                    .arg(path, QString::fromUtf8(sqlite3_errmsg(m_db)));
        sqlite3_close(m_db);
        throw ServiceError(message);
    }
    sqlite3_busy_timeout(m_db, 5000);
    exec("PRAGMA journal_mode=WAL");
    exec("PRAGMA synchronous=NORMAL");
}

SqliteDatabase::~SqliteDatabase() {
    sqlite3_close(m_db);
}

void SqliteDatabase::exec(const char* sql) {
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(sql);
}

void SqliteDatabase::fail(const char* what) const {
    throw ServiceError(QStringLiteral("Database error in %1: %2")
                           .arg(QString::fromUtf8(what), QString::fromUtf8(sqlite3_errmsg(m_db))));
}

SqliteStatement::SqliteStatement(SqliteDatabase& db, const char* sql) : m_db(db) {
    if (sqlite3_prepare_v2(db.handle(), sql, -1, &m_stmt, nullptr) != SQLITE_OK)
        db.fail(sql);
}

SqliteStatement::~SqliteStatement() {
    sqlite3_finalize(m_stmt);
}

void SqliteStatement::bind(int index, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(m_stmt, index, utf8.constData(), static_cast<int>(utf8.size()),
                      SQLITE_TRANSIENT);
}

void SqliteStatement::bind(int index, qint64 value) {
    sqlite3_bind_int64(m_stmt, index, value);
}

void SqliteStatement::bindBlob(int index, const QByteArray& bytes) {
    sqlite3_bind_blob(m_stmt, index, bytes.constData(), static_cast<int>(bytes.size()),
                      SQLITE_TRANSIENT);
}

bool SqliteStatement::step() {
    const int result = sqlite3_step(m_stmt);
    if (result == SQLITE_ROW)
        return true;
    if (result != SQLITE_DONE)
        m_db.fail(sqlite3_sql(m_stmt));
    return false;
}

void SqliteStatement::reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

QString SqliteStatement::text(int column) const {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return QString::fromUtf8(bytes, sqlite3_column_bytes(m_stmt, column));
}

qint64 SqliteStatement::integer(int column) const {
    return sqlite3_column_int64(m_stmt, column);
}

QByteArray SqliteStatement::blob(int column) const {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(m_stmt, column));
    return QByteArray(bytes, sqlite3_column_bytes(m_stmt, column));
}
