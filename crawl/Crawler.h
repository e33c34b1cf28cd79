#pragma once

#include "crawl/CrawlLimits.h"
#include "crawl/CrawlRound.h"
#include "crawl/CrawlTypes.h"
#include "crawl/CurlLoop.h"

#include <QList>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class ProgressBoard;
class SourceLeases;

// Walks other machines' servers into a CrawlSink: HTTP(S) listings and FTP folders on one
// thread with many libcurl transfers in flight, each SMB share on a thread of its own.
// One crawl walks every source once; start() repeats crawls on a schedule. Crawlers that
// share one index share its sources through leases (setLeases): each source is walked by one
// of them per crawl.
class Crawler {
public:
    using SourceState = CrawlSourceState; // a source with its walk's progress
    using Print = std::function<void(const QString& line)>;

    // print gets the progress and summary lines (default: standard error).
    Crawler(QList<CrawlSource> sources, CrawlSink& sink, CrawlLimits limits = {}, Print print = {});
    ~Crawler(); // stops and joins

    // Walks a source only under a lease in leases, held as holder (see holderName()) and
    // renewed every length/3. Call before the first crawl.
    void setLeases(SourceLeases& leases, QString holder, std::chrono::seconds length);
    // Names this crawler in an index's leases: the host name, the process id and a random part.
    static QString holderName();

    // Crawls on a thread of its own: at once, then every interval when it is above zero.
    // With takesRequests the thread stays for crawlNow() after its last scheduled crawl.
    void start(std::chrono::seconds interval = std::chrono::seconds(0), bool takesRequests = false);
    // One crawl of every source on the calling thread; returns when it is over. forced:
    // files whose listing cannot vouch for them are read again.
    void crawlOnce(bool forced = false);
    // A crawl asked for by the user: it starts at once, forced, unless one is under way
    // (false). Safe from any thread; needs start() with takesRequests.
    bool crawlNow();
    // Ends the walks under way (their sources are abandoned: old entries stay) and the
    // schedule. Safe from any thread.
    void stop();
    // Waits until the crawls of start() are over (a crawl once) or stop().
    void wait();

    QList<SourceState> states() const; // thread-safe copy

    // Called on the crawler's thread after each crawl of start() that was not stopped. Set
    // before start().
    void setCrawlEnded(std::function<void()> ended) { m_crawlEnded = std::move(ended); }

private:
    void runSchedule(std::chrono::seconds interval, bool takesRequests);

    QList<CrawlSource> m_sources;
    CrawlSink& m_sink;
    CrawlLimits m_limits;
    LeaseTerms m_terms;
    std::unique_ptr<ProgressBoard> m_board;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_crawling = false; // under m_mutex
    bool m_asked = false;    // crawlNow() came while idle; under m_mutex
    CurlWaker m_waker;       // wakes the running crawl's loop
    std::function<void()> m_crawlEnded;
    std::thread m_thread;
};
