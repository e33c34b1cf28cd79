#pragma once

#include "crawl/CrawlLimits.h"
#include "crawl/CrawlTypes.h"
#include "crawl/CurlLoop.h"
#include "crawl/HeadJudges.h"
#include "crawl/HostLimits.h"
#include "crawl/WalkEnd.h"

#include <QDateTime>
#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

class ProgressBoard;
class SourceLeases;

// How a crawler shares an index's sources with others: without leases it walks them all.
struct LeaseTerms {
    SourceLeases* leases = nullptr;
    QString holder;                 // names the crawler in the index
    std::chrono::seconds length{0}; // a lease runs this long unless renewed
};

// One crawl of every source. Each source takes turns: claim its lease (none without leases),
// walk it (HTTP and FTP in the crawl's libcurl loop, their heads judged by worker threads,
// SMB on a thread of its own) while the loop renews the lease, release it. A walk that the index
// failed is walked again after a pause; a source another crawler holds is claimed again until it is
// ours or done elsewhere.
class CrawlRound {
public:
    using Clock = std::chrono::steady_clock;

    CrawlRound(const QList<CrawlSource>& sources, CrawlSink& sink, const CrawlLimits& limits,
               const LeaseTerms& terms, ProgressBoard& board, std::atomic<bool>& stop,
               CurlWaker& waker);
    ~CrawlRound(); // the SMB threads end (stopped if need be) before it returns
    // Returns when every source is walked or done elsewhere, or after stop.
    void run();

private:
    struct SmbThread;
    struct Turn;

    void step(Turn& turn, Clock::time_point now);
    void claim(Turn& turn, Clock::time_point now);
    void startWalk(Turn& turn, Clock::time_point now);
    void watch(Turn& turn, Clock::time_point now);
    void renew(Turn& turn, Clock::time_point now);
    void cut(Turn& turn, const WalkResult& why);
    void conclude(Turn& turn, const WalkResult& result, Clock::time_point now);
    void walkAgainLater(Turn& turn, const QString& why, Clock::time_point now);
    void release(const Turn& turn, bool done);
    void deliverJudged();
    void stopAll();
    bool allOver() const;
    Clock::duration beat() const; // between two renewals, and two claims of a held source

    const QList<CrawlSource>& m_sources;
    CrawlSink& m_sink;
    CrawlLimits m_limits;
    LeaseTerms m_terms;
    ProgressBoard& m_board;
    std::atomic<bool>& m_stop;
    CurlWaker& m_waker;
    QDateTime m_doneSince; // the index's clock at the first claim
    HostLimits m_hosts;
    std::vector<Turn> m_turns;
    CurlLoop m_loop; // after m_turns: its requests point into their walks
    HeadJudges m_judges;
};
