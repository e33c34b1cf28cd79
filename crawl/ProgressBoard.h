#pragma once

#include "crawl/CrawlTypes.h"

#include <QList>
#include <chrono>
#include <functional>
#include <mutex>

// The crawler's progress per source, shared between the crawl threads and the status page.
// Prints one progress line per running source at most once a second, and a summary line
// when a walk ends, on standard error (never with a credential: sources are shown without
// their user info).
class ProgressBoard {
public:
    using Print = std::function<void(const QString& line)>;

    ProgressBoard(const QList<CrawlSource>& sources, Print print);

    void update(int source, const std::function<void(CrawlProgress&)>& change);
    void error(int source, const QString& text); // counts it and keeps the text
    void started(int source);
    // The source waits before its walk (why, as CrawlProgress::waiting), or no longer
    // (empty). Prints one line when the wait begins.
    void waiting(int source, const QString& why);
    void ended(int source, bool stale, const QString& reason);
    bool running(int source) const;
    // Prints "crawl of URL: text".
    void say(int source, const QString& text);
    void setNextStart(const QDateTime& when);
    // Prints the lines that are due.
    void tick();

    struct Row {
        CrawlSource source;
        CrawlProgress progress;
    };
    QList<Row> rows() const;

    static QString describe(const CrawlProgress& progress);

private:
    struct Entry {
        CrawlSource source;
        CrawlProgress progress;
        std::chrono::steady_clock::time_point lastPrinted{};
        std::chrono::steady_clock::time_point began{};
    };
    mutable std::mutex m_mutex;
    QList<Entry> m_entries;
    Print m_print;
};
