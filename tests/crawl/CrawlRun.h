#pragma once

#include "MemorySink.h"
#include "crawl/Crawler.h"

#include <QFile>
#include <mutex>
#include <unistd.h>

// What one crawl printed and how its sources ended.
struct CrawlRun {
    QStringList lines; // printed
    QList<Crawler::SourceState> states;
};

inline CrawlRun crawlOnce(const QList<CrawlSource>& sources, MemorySink& sink,
                          const CrawlLimits& limits = {}) {
    CrawlRun run;
    std::mutex mutex;
    Crawler crawler(sources, sink, limits, [&](const QString& line) {
        std::lock_guard lock(mutex);
        run.lines << line;
    });
    crawler.crawlOnce();
    run.states = crawler.states();
    return run;
}

// This process's resident memory in bytes.
inline qint64 residentBytes() {
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE);
}
