#pragma once

#include <QByteArray>
#include <QList>
#include <deque>
#include <map>

// Decides which header probes run. At most maxRunning probes run at once, and at most
// maxPerHost of one host (and port); the others wait. A freed place goes to the hosts with
// waiting links in turn, one link each, so that a page full of links to one dead or slow
// site cannot keep the links to other sites from being probed. A host's links start in the
// order they came.
class ProbeQueue {
public:
    struct Link {
        QByteArray host;
        QByteArray url;
        bool operator==(const Link&) const = default;
    };

    ProbeQueue(int maxRunning, int maxPerHost);

    // A new link: true when it may start at once (it then counts as running), false when it
    // waits its turn.
    bool add(const Link& link);
    // A running probe of host ended: the links that start now, each counted as running.
    QList<Link> finished(const QByteArray& host);
    // Drops the waiting links; the running ones still count until they finish.
    void clearWaiting();

    int running() const { return m_total; }
    int waiting() const { return m_waitingCount; }

private:
    bool hasRoom(const QByteArray& host) const;
    void start(const QByteArray& host);

    int m_maxRunning;
    int m_maxPerHost;
    int m_total = 0;
    int m_waitingCount = 0;
    std::map<QByteArray, int> m_running;                    // running probes per host
    std::map<QByteArray, std::deque<QByteArray>> m_waiting; // waiting URLs per host
    std::deque<QByteArray> m_turns; // the hosts with waiting links, next turn first
};
