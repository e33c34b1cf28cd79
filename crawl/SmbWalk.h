#pragma once

#include "crawl/CrawlLimits.h"
#include "crawl/CrawlTypes.h"

#include <atomic>

class ProgressBoard;

// The walk of one SMB source in one crawl, with blocking SmbWalker calls on a thread of
// its own. It reports each folder to the sink as it goes (the sink is thread-safe).
class SmbWalk {
public:
    SmbWalk(int index, const CrawlSource& source, CrawlSink& sink, const CrawlLimits& limits,
            ProgressBoard& board, const std::atomic<bool>& stop);
    void run();

private:
    int m_index;
    CrawlSource m_source;
    CrawlSink& m_sink;
    CrawlLimits m_limits;
    ProgressBoard& m_board;
    const std::atomic<bool>& m_stop;
};
