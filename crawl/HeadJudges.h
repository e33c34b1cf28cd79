#pragma once

#include "crawl/CrawlTypes.h"
#include "crawl/FolderPlan.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

class CurlWaker;

// Turns the bytes of read heads into FileHeads on worker threads: decoding a head's audio for
// the transcode check takes milliseconds a file, and on the crawl's libcurl thread it would
// hold up every source's transfers, the renewal of their leases and the crawl's stop.
// Submit and take on the loop's thread; the workers only wake the loop.
class HeadJudges {
public:
    struct Job {
        quint64 walk = 0; // the submitting walk's serial: results outlive a walk that ended
        int folder = 0;
        int file = 0;
        HeadRead read{-1};
    };
    struct Judged {
        quint64 walk = 0;
        int folder = 0;
        int file = 0;
        bool ok = false; // false: the reading failed, the file keeps its old figures
        FileHead head;
    };

    HeadJudges(int threads, CurlWaker& waker);
    ~HeadJudges(); // jobs not begun are dropped; those under way finish first
    HeadJudges(const HeadJudges&) = delete;
    HeadJudges& operator=(const HeadJudges&) = delete;

    void submit(Job job);
    // What was judged since the last call, in the order it finished.
    std::vector<Judged> take();
    static int defaultThreads();

private:
    void work();

    CurlWaker& m_waker;
    std::mutex m_mutex;
    std::condition_variable m_wanted;
    std::deque<Job> m_jobs;
    std::vector<Judged> m_judged;
    bool m_closing = false;
    std::vector<std::thread> m_threads;
};
