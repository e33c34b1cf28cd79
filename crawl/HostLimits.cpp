#include "crawl/HostLimits.h"

#include <QLocale>
#include <algorithm>

bool HostLimits::mayStart(const QString& host, Clock::time_point now) const {
    const auto it = m_hosts.constFind(host);
    if (it == m_hosts.constEnd())
        return m_perHost > 0;
    const int limit = it->limit > 0 ? std::min(it->limit, m_perHost) : m_perHost;
    return it->inFlight < limit && now >= nextStart(host);
}

HostLimits::Clock::time_point HostLimits::nextStart(const QString& host) const {
    const auto it = m_hosts.constFind(host);
    if (it == m_hosts.constEnd())
        return {};
    return std::max(it->heldUntil, it->lastStart + it->delay);
}

void HostLimits::started(const QString& host, Clock::time_point now) {
    Host& h = m_hosts[host];
    ++h.inFlight;
    h.lastStart = now;
}

void HostLimits::ended(const QString& host) {
    Host& h = m_hosts[host];
    h.inFlight = std::max(0, h.inFlight - 1);
}

void HostLimits::holdBack(const QString& host, Clock::time_point until) {
    Host& h = m_hosts[host];
    h.heldUntil = std::max(h.heldUntil, until);
}

bool HostLimits::lowerLimit(const QString& host) {
    Host& h = m_hosts[host];
    if (h.inFlight < 1)
        return false;
    h.limit = h.limit > 0 ? std::min(h.limit, h.inFlight) : h.inFlight;
    return true;
}

void HostLimits::setDelay(const QString& host, std::chrono::milliseconds delay) {
    m_hosts[host].delay = delay;
}

std::chrono::seconds HostLimits::retryAfter(const QByteArray& value, const QDateTime& nowUtc,
                                            std::chrono::seconds fallback,
                                            std::chrono::seconds cap) {
    const QByteArray text = value.trimmed();
    std::chrono::seconds wait = fallback;
    bool ok = false;
    const qint64 seconds = text.toLongLong(&ok);
    if (ok && seconds >= 0) {
        wait = std::chrono::seconds(std::min<qint64>(seconds, cap.count()));
    } else if (!text.isEmpty()) {
        // IMF-fixdate, the only form servers send today: "Sun, 06 Nov 1994 08:49:37 GMT".
        const QDateTime when = QLocale::c().toDateTime(
            QString::fromLatin1(text), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
        if (when.isValid()) {
            QDateTime utc = when;
            utc.setTimeSpec(Qt::UTC);
            wait = std::chrono::seconds(std::clamp<qint64>(nowUtc.secsTo(utc), 0, cap.count()));
        }
    }
    return std::min(wait, cap);
}
