#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <chrono>

// How hard the crawler may press one server: at most perHost requests in flight, none
// while a Retry-After or a robots.txt crawl delay holds it back. Shared by every walk of
// the crawler's thread (two sources on one host count together); not thread-safe.
class HostLimits {
public:
    using Clock = std::chrono::steady_clock;

    explicit HostLimits(int perHost) : m_perHost(perHost) {}

    bool mayStart(const QString& host, Clock::time_point now) const;
    void started(const QString& host, Clock::time_point now);
    void ended(const QString& host);
    // The host asked for a pause (429/503 with Retry-After).
    void holdBack(const QString& host, Clock::time_point until);
    // The host refused a request (429/503 without Retry-After) while others of ours were in
    // flight: it takes no more at once than those from now on, and the refused request may
    // be asked again without a pause (true). False when nothing else was in flight.
    bool lowerLimit(const QString& host);
    // robots.txt's Crawl-delay: at least this long between two requests.
    void setDelay(const QString& host, std::chrono::milliseconds delay);
    // When the next request to host may start (now or earlier when it may start now).
    Clock::time_point nextStart(const QString& host) const;

    // A Retry-After value (seconds or an HTTP date) as a wait from now, at most cap; an
    // unreadable or missing value waits fallback.
    static std::chrono::seconds retryAfter(const QByteArray& value, const QDateTime& nowUtc,
                                           std::chrono::seconds fallback, std::chrono::seconds cap);

private:
    struct Host {
        int inFlight = 0;
        Clock::time_point heldUntil{};
        Clock::time_point lastStart{};
        std::chrono::milliseconds delay{0};
        int limit = 0; // learnt from refusals; 0: none
    };
    int m_perHost;
    QHash<QString, Host> m_hosts;
};
