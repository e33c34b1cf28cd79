#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

struct pg_conn;
struct pg_result;

// The values of one parameterised statement ($1, $2, ...): text, numbers and bytes are
// sent apart from the statement's text, never pasted into it.
class PgParams {
public:
    PgParams& text(const QString& value);
    PgParams& number(qint64 value);
    PgParams& boolean(bool value);
    PgParams& bytes(const QByteArray& value); // sent as binary: a bytea
    PgParams& null();

    int size() const { return static_cast<int>(m_values.size()); }

private:
    friend class PgConnection;
    std::vector<QByteArray> m_values;
    std::vector<int> m_lengths, m_formats;
    std::vector<bool> m_null;
};

// The rows of one statement's answer, in text form.
class PgResult {
public:
    explicit PgResult(pg_result* result);
    ~PgResult();
    PgResult(PgResult&& other) noexcept;
    PgResult(const PgResult&) = delete;
    PgResult& operator=(const PgResult&) = delete;

    int rows() const;
    bool isNull(int row, int column) const;
    QString text(int row, int column) const;
    qint64 number(int row, int column) const;
    bool boolean(int row, int column) const;
    QByteArray bytes(int row, int column) const; // a bytea column

private:
    pg_result* m_result;
};

// One libpq connection. A failure of the connection itself (the server went away, the link
// broke) marks it broken and throws IndexUnavailable; any other failure of a statement
// throws ServiceError with the server's message.
class PgConnection {
public:
    // Connects; throws IndexUnavailable with libpq's reason when it cannot.
    explicit PgConnection(const QString& conninfo);
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    PgResult exec(const char* sql, const PgParams& params = PgParams());
    // Statements without parameters, several at once (the schema's steps).
    void script(const char* sql);

    // The connection failed (see failure()); it is not used again.
    bool broken() const { return !m_failure.isEmpty(); }
    QString failure() const { return m_failure; }
    // Connected, and not inside a transaction.
    bool idle() const;

private:
    PgResult checked(pg_result* raw);

    pg_conn* m_conn = nullptr;
    QString m_failure;
};

// The connections an index keeps: at most max at once, made on demand and kept idle for
// the next call. While the server cannot be reached, a new connection is tried at most once
// per backoff period (0.25 s doubling up to 8 s); calls in between throw IndexUnavailable
// at once. The pool says once on standard error that the index became unreachable, and
// once that it is back.
class PgPool {
public:
    PgPool(QString conninfo, int max);
    ~PgPool();

    // Runs work on a connection of the pool.
    template <typename Work> auto run(Work&& work) {
        Lease lease(*this);
        return work(*lease.connection);
    }
    // Runs work in one transaction: committed when it returns, rolled back when it throws.
    // A transaction the server broke off for a deadlock or a serialization conflict is
    // run again, a few times.
    void transaction(const std::function<void(PgConnection&)>& work);

private:
    struct Lease {
        explicit Lease(PgPool& owner) : pool(owner), connection(owner.take()) {}
        ~Lease() { pool.giveBack(std::move(connection)); }
        PgPool& pool;
        std::unique_ptr<PgConnection> connection;
    };

    std::unique_ptr<PgConnection> take();
    void giveBack(std::unique_ptr<PgConnection> connection);
    std::unique_ptr<PgConnection> connect(std::unique_lock<std::mutex>& lock);
    void failed(const QString& reason); // under m_mutex: a connection or a connect failed

    const QString m_conninfo;
    const int m_max;
    std::mutex m_mutex;
    std::condition_variable m_freed;
    std::vector<std::unique_ptr<PgConnection>> m_idle;
    int m_open = 0; // connections lent out, idle or being made
    bool m_reachable = true;
    bool m_trying = false; // a connect while unreachable is under way
    std::chrono::milliseconds m_backoff{0};
    std::chrono::steady_clock::time_point m_nextTry;
    QString m_reason;
};
