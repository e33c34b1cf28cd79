#pragma once

#include "crawl/CrawlLimits.h"
#include "crawl/CrawlTypes.h"
#include "crawl/WalkEnd.h"
#include "crawl/WalkPolicy.h"

#include <atomic>
#include <deque>
#include <memory>

class SmbWalker;
struct FolderPlan;

class ProgressBoard;

// The walk of one SMB source in one crawl, with blocking SmbWalker calls on a thread of
// its own. It reports each folder to the sink as it goes (the sink is thread-safe). A sink
// call that throws ends the walk (WalkEnd::IndexFailed); once lost is set (another crawler
// took the source over) the walk ends before its next word to the sink.
class SmbWalk {
public:
    SmbWalk(int index, const CrawlSource& source, CrawlSink& sink, const CrawlLimits& limits,
            ProgressBoard& board, const std::atomic<bool>& stop, const std::atomic<bool>& lost);
    ~SmbWalk();
    SmbWalk(const SmbWalk&) = delete;
    SmbWalk& operator=(const SmbWalk&) = delete;
    WalkResult run();

private:
    struct Folder;
    class Ended; // thrown to end the walk: how it ended

    WalkResult walk();
    void listFolder(const Folder& folder, std::deque<Folder>& queue);
    void readHeads(FolderPlan& plan, const QString& shown);
    void storeWhatWasRead(FolderPlan& plan, qsizetype from);
    void checkStop();
    [[noreturn]] void abandon(const QString& reason);

    int m_index;
    CrawlSource m_source;
    CrawlSink& m_sink;
    CrawlLimits m_limits;
    ProgressBoard& m_board;
    const std::atomic<bool>& m_stop;
    const std::atomic<bool>& m_lost;
    WalkPolicy m_policy;
    std::unique_ptr<SmbWalker> m_walker;
    qint64 m_crawl = 0;
    int m_listed = 0;
};
