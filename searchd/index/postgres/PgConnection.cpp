#include "searchd/index/postgres/PgConnection.h"

#include "searchd/ServiceError.h"

#include <cstdio>
#include <libpq-fe.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kFirstBackoff{250};
constexpr milliseconds kLongestBackoff{8000};
constexpr milliseconds kLongestWait{5000}; // for a free connection, like a connect time-out
constexpr int kAttempts = 3;               // of a transaction the server broke off

// The server broke a transaction off to resolve a conflict: running it again may work.
class ConflictError : public ServiceError {
public:
    using ServiceError::ServiceError;
};

// libpq's messages end in a line break and may span lines: one line for ours.
QString oneLine(const char* message) {
    return QString::fromUtf8(message ? message : "").simplified();
}

bool connectionLost(const char* state) {
    if (!state)
        return false;
    const QByteArray code(state);
    return code.startsWith("08") || code == "57P01" || code == "57P02" || code == "57P03";
}

// The server's notices ("... already exists, skipping") are not the service's to show.
void ignoreNotice(void*, const char*) {}

void say(const QString& line) {
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

} // namespace

PgParams& PgParams::text(const QString& value) {
    // PostgreSQL's text cannot hold a NUL: a tag or name with one is kept without it rather
    // than refused with its whole folder.
    QByteArray bytes = value.toUtf8();
    bytes.replace('\0', QByteArray());
    m_values.push_back(bytes);
    m_lengths.push_back(0);
    m_formats.push_back(0);
    m_null.push_back(false);
    return *this;
}

PgParams& PgParams::number(qint64 value) {
    return text(QString::number(value));
}

PgParams& PgParams::boolean(bool value) {
    return text(value ? QStringLiteral("true") : QStringLiteral("false"));
}

PgParams& PgParams::bytes(const QByteArray& value) {
    m_values.push_back(value);
    m_lengths.push_back(static_cast<int>(value.size()));
    m_formats.push_back(1);
    m_null.push_back(false);
    return *this;
}

PgParams& PgParams::null() {
    m_values.emplace_back();
    m_lengths.push_back(0);
    m_formats.push_back(0);
    m_null.push_back(true);
    return *this;
}

PgResult::PgResult(pg_result* result) : m_result(result) {}

PgResult::~PgResult() {
    PQclear(m_result);
}

PgResult::PgResult(PgResult&& other) noexcept : m_result(std::exchange(other.m_result, nullptr)) {}

int PgResult::rows() const {
    return PQntuples(m_result);
}

bool PgResult::isNull(int row, int column) const {
    return PQgetisnull(m_result, row, column) != 0;
}

QString PgResult::text(int row, int column) const {
    return QString::fromUtf8(PQgetvalue(m_result, row, column), PQgetlength(m_result, row, column));
}

qint64 PgResult::number(int row, int column) const {
    return QByteArray(PQgetvalue(m_result, row, column)).toLongLong();
}

bool PgResult::boolean(int row, int column) const {
    return PQgetvalue(m_result, row, column)[0] == 't';
}

QByteArray PgResult::bytes(int row, int column) const {
    size_t length = 0;
    unsigned char* raw = PQunescapeBytea(
        reinterpret_cast<const unsigned char*>(PQgetvalue(m_result, row, column)), &length);
    if (!raw)
        throw ServiceError(QStringLiteral("out of memory reading the index"));
    QByteArray bytes(reinterpret_cast<const char*>(raw), static_cast<qsizetype>(length));
    PQfreemem(raw);
    return bytes;
}

PgConnection::PgConnection(const QString& conninfo) {
    // The string's own settings override the defaults before it; the encoding after it is
    // always ours. Over TCP, a server that stops answering (a broken network) fails the call
    // within seconds rather than when the system gives up on the link.
    const QByteArray info = conninfo.toUtf8();
    // Compiling a query (jit) would cost more than the index's short queries take.
    const std::pair<const char*, const char*> settings[] = {
        {"connect_timeout", "5"},      {"keepalives_idle", "5"},
        {"keepalives_interval", "2"},  {"keepalives_count", "3"},
        {"tcp_user_timeout", "10000"}, {"application_name", "pellmar-searchd"},
        {"options", "-c jit=off"},     {"dbname", info.constData()},
        {"client_encoding", "UTF8"},
    };
    std::vector<const char*> keys, values;
    for (const auto& [key, value] : settings) {
        keys.push_back(key);
        values.push_back(value);
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    m_conn = PQconnectdbParams(keys.data(), values.data(), 1);
    if (!m_conn)
        throw IndexUnavailable(QStringLiteral("out of memory"));
    if (PQstatus(m_conn) != CONNECTION_OK) {
        m_failure = oneLine(PQerrorMessage(m_conn));
        throw IndexUnavailable(m_failure);
    }
    PQsetNoticeProcessor(m_conn, ignoreNotice, nullptr);
}

PgConnection::~PgConnection() {
    PQfinish(m_conn);
}

bool PgConnection::idle() const {
    return !broken() && PQstatus(m_conn) == CONNECTION_OK &&
           PQtransactionStatus(m_conn) == PQTRANS_IDLE;
}

PgResult PgConnection::exec(const char* sql, const PgParams& params) {
    std::vector<const char*> values;
    for (size_t i = 0; i < params.m_values.size(); ++i)
        values.push_back(params.m_null[i] ? nullptr : params.m_values[i].constData());
    return checked(PQexecParams(m_conn, sql, params.size(), nullptr, values.data(),
                                params.m_lengths.data(), params.m_formats.data(), 0));
}

void PgConnection::script(const char* sql) {
    checked(PQexec(m_conn, sql));
}

PgResult PgConnection::checked(pg_result* raw) {
    PgResult result(raw);
    const ExecStatusType status = raw ? PQresultStatus(raw) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
        return result;
    // An error without SQLSTATE is libpq's own: the link to the server failed.
    const char* state = raw ? PQresultErrorField(raw, PG_DIAG_SQLSTATE) : nullptr;
    if (!state || PQstatus(m_conn) != CONNECTION_OK || connectionLost(state)) {
        m_failure = oneLine(raw ? PQresultErrorMessage(raw) : PQerrorMessage(m_conn));
        if (m_failure.isEmpty())
            m_failure = QStringLiteral("the connection to the server was lost");
        throw IndexUnavailable(m_failure);
    }
    const QString message = oneLine(PQresultErrorMessage(raw));
    if (state && (QByteArray(state) == "40P01" || QByteArray(state) == "40001"))
        throw ConflictError(message);
    throw ServiceError(message);
}

PgPool::PgPool(QString conninfo, int max)
    : m_conninfo(std::move(conninfo)), m_max(max > 0 ? max : 16) {}

PgPool::~PgPool() = default;

std::unique_ptr<PgConnection> PgPool::take() {
    std::unique_lock lock(m_mutex);
    const auto deadline = Clock::now() + kLongestWait;
    for (;;) {
        if (!m_idle.empty()) {
            std::unique_ptr<PgConnection> connection = std::move(m_idle.back());
            m_idle.pop_back();
            return connection;
        }
        if (m_open < m_max) {
            if (!m_reachable && (m_trying || Clock::now() < m_nextTry))
                throw IndexUnavailable(QStringLiteral("the index is unreachable: ") + m_reason);
            return connect(lock);
        }
        if (m_freed.wait_until(lock, deadline) == std::cv_status::timeout && m_idle.empty() &&
            m_open >= m_max)
            throw IndexUnavailable(
                QStringLiteral("all %1 connections to the index are busy").arg(m_max));
    }
}

std::unique_ptr<PgConnection> PgPool::connect(std::unique_lock<std::mutex>& lock) {
    ++m_open;
    const bool retry = !m_reachable;
    if (retry)
        m_trying = true; // the period's one try: other callers fail at once meanwhile
    lock.unlock();
    try {
        auto connection = std::make_unique<PgConnection>(m_conninfo);
        lock.lock();
        if (retry)
            m_trying = false;
        if (!m_reachable) {
            m_reachable = true;
            say(QStringLiteral("pellmar-searchd: the index is reachable again"));
        }
        return connection;
    } catch (const IndexUnavailable& e) {
        lock.lock();
        --m_open;
        failed(QString::fromUtf8(e.what()));
        if (retry) {
            m_trying = false;
            m_backoff = std::min(m_backoff * 2, kLongestBackoff);
            m_nextTry = Clock::now() + m_backoff;
        }
        m_freed.notify_one();
        throw IndexUnavailable(QStringLiteral("the index is unreachable: ") + m_reason);
    }
}

void PgPool::failed(const QString& reason) {
    m_reason = reason;
    if (m_reachable) {
        m_reachable = false;
        m_backoff = kFirstBackoff;
        m_nextTry = Clock::now() + m_backoff;
        say(QStringLiteral("pellmar-searchd: the index is unreachable: %1; trying again by itself")
                .arg(reason));
    }
    // The idle connections went to the same server: they are most likely broken too.
    m_open -= static_cast<int>(m_idle.size());
    m_idle.clear();
}

void PgPool::giveBack(std::unique_ptr<PgConnection> connection) {
    std::lock_guard lock(m_mutex);
    if (connection->idle()) {
        m_idle.push_back(std::move(connection));
    } else {
        --m_open;
        if (connection->broken())
            failed(connection->failure());
    }
    m_freed.notify_one();
}

void PgPool::transaction(const std::function<void(PgConnection&)>& work) {
    for (int attempt = 1;; ++attempt) {
        Lease lease(*this);
        PgConnection& connection = *lease.connection;
        connection.exec("BEGIN");
        try {
            work(connection);
            connection.exec("COMMIT");
            return;
        } catch (const IndexUnavailable&) {
            throw; // the server ends the transaction with the connection
        } catch (const ConflictError&) {
            connection.exec("ROLLBACK");
            if (attempt == kAttempts)
                throw;
        } catch (...) {
            if (!connection.broken()) {
                try {
                    connection.exec("ROLLBACK");
                } catch (const ServiceError&) {
                    // The connection is dropped on its return: not idle.
                }
            }
            throw;
        }
    }
}
