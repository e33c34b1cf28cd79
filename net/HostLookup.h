#pragma once

#include <QByteArray>
#include <QList>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class NoticeEndpoint;

// A forward name lookup (IPv4) run by getaddrinfo on a worker thread. The result is posted
// to the endpoint as a notice, so the callback runs on the endpoint's thread from the event
// loop. Cancelling, or destroying the endpoint after cancelling, drops the result.
class HostLookup {
public:
    // error: 0 or a socket error number (11001 host not found, ...); addresses dotted.
    using Done = std::function<void(int error, const QList<QByteArray>& addresses)>;

    // Throws std::system_error when no worker thread can be started.
    static std::shared_ptr<HostLookup> Start(const QByteArray& host, NoticeEndpoint* endpoint,
                                             Done done);

    // After this returns the result will never be posted.
    void Cancel();

    // Lookups whose worker thread has not yet posted (or dropped) its result. Read-only; tests
    // wait for it to reach zero before they show that a late answer changes nothing.
    static int InFlight() { return s_inFlight; }

private:
    HostLookup(NoticeEndpoint* endpoint, Done done)
        : m_endpoint(endpoint), m_done(std::move(done)) {}
    void Run(const QByteArray& host);

    std::mutex m_mutex;
    NoticeEndpoint* m_endpoint; // null once cancelled
    Done m_done;
    static inline std::atomic<int> s_inFlight{0};
};
