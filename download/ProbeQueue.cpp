#include "download/ProbeQueue.h"

ProbeQueue::ProbeQueue(int maxRunning, int maxPerHost)
    : m_maxRunning(maxRunning), m_maxPerHost(maxPerHost) {}

bool ProbeQueue::hasRoom(const QByteArray& host) const {
    const auto running = m_running.find(host);
    return m_total < m_maxRunning && (running == m_running.end() || running->second < m_maxPerHost);
}

void ProbeQueue::start(const QByteArray& host) {
    ++m_running[host];
    ++m_total;
}

bool ProbeQueue::add(const Link& link) {
    // A host with links waiting keeps its order: a new one never passes them.
    if (!m_waiting.contains(link.host) && hasRoom(link.host)) {
        start(link.host);
        return true;
    }
    auto& urls = m_waiting[link.host];
    if (urls.empty())
        m_turns.push_back(link.host);
    urls.push_back(link.url);
    ++m_waitingCount;
    return false;
}

QList<ProbeQueue::Link> ProbeQueue::finished(const QByteArray& host) {
    const auto running = m_running.find(host);
    if (running != m_running.end() && --running->second <= 0)
        m_running.erase(running);
    --m_total;
    QList<Link> started;
    // Hosts at their own limit keep their turn. Few hosts can be at it at once (the overall
    // limit divided by the one per host), so the search for a host with room stays short.
    for (auto turn = m_turns.begin(); turn != m_turns.end() && m_total < m_maxRunning;) {
        if (!hasRoom(*turn)) {
            ++turn;
            continue;
        }
        const QByteArray next = *turn;
        auto& urls = m_waiting[next];
        started.append({next, urls.front()});
        urls.pop_front();
        --m_waitingCount;
        start(next);
        m_turns.erase(turn);
        if (urls.empty())
            m_waiting.erase(next);
        else
            m_turns.push_back(next);
        turn = m_turns.begin();
    }
    return started;
}

void ProbeQueue::clearWaiting() {
    m_waiting.clear();
    m_turns.clear();
    m_waitingCount = 0;
}
