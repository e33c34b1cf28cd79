#include "crawl/CrawlRound.h"

#include "crawl/CurlWalk.h"
#include "crawl/ProgressBoard.h"
#include "crawl/SmbWalk.h"
#include "crawl/SourceLeases.h"

#include <optional>
#include <thread>

namespace {

const QString kHeldElsewhere = QStringLiteral("another crawler walks it");
const QString kTakenOver = QStringLiteral("another crawler took the source over");

QString secondsText(std::chrono::milliseconds wait) {
    return QString::number(double(wait.count()) / 1000.0);
}

} // namespace

struct CrawlRound::SmbThread {
    std::atomic<bool> lost{false}; // the walk writes nothing more
    std::atomic<bool> over{false};
    WalkResult result; // set before over
    std::thread thread;
};

struct CrawlRound::Turn {
    enum class Step { Claim, Walk, Over };
    int index = 0;
    Step step = Step::Claim;
    Clock::time_point due{}; // Claim: when to claim; Walk: when to renew the lease
    std::chrono::milliseconds backoff{0};
    std::optional<WalkResult> cut; // the crawl ended the walk: how it counts
    std::unique_ptr<CurlWalk> curl;
    std::unique_ptr<SmbThread> smb;
};

CrawlRound::CrawlRound(const QList<CrawlSource>& sources, CrawlSink& sink,
                       const CrawlLimits& limits, const LeaseTerms& terms, ProgressBoard& board,
                       std::atomic<bool>& stop, CurlWaker& waker)
    : m_sources(sources), m_sink(sink), m_limits(limits), m_terms(terms), m_board(board),
      m_stop(stop), m_waker(waker), m_hosts(limits.perHost), m_loop(limits, m_hosts, waker),
      m_judges(HeadJudges::defaultThreads(), waker) {
    m_turns.resize(size_t(sources.size()));
    for (int i = 0; i < sources.size(); ++i)
        m_turns[size_t(i)].index = i;
}

CrawlRound::~CrawlRound() {
    for (Turn& turn : m_turns) {
        if (turn.smb && turn.smb->thread.joinable()) { // left by an exception
            m_stop = true;
            turn.smb->thread.join();
        }
    }
}

CrawlRound::Clock::duration CrawlRound::beat() const {
    return std::max<Clock::duration>(std::chrono::seconds(1), m_terms.length / 3);
}

bool CrawlRound::allOver() const {
    for (const Turn& turn : m_turns)
        if (turn.step != Turn::Step::Over)
            return false;
    return true;
}

void CrawlRound::run() {
    while (!m_stop && !allOver()) {
        const Clock::time_point now = Clock::now();
        for (Turn& turn : m_turns)
            step(turn, now);
        deliverJudged();
        for (Turn& turn : m_turns) {
            if (!turn.curl)
                continue;
            m_loop.feed(*turn.curl);
            turn.curl->maybeFinish();
        }
        const bool finished = m_loop.perform();
        m_board.tick();
        // What finished may have freed a slot: the next requests start before any wait.
        if (!finished)
            m_loop.poll(std::chrono::milliseconds(100));
    }
    stopAll();
}

void CrawlRound::deliverJudged() {
    for (HeadJudges::Judged& judged : m_judges.take()) {
        for (Turn& turn : m_turns) {
            if (turn.curl && turn.curl->serial() == judged.walk) {
                turn.curl->judged(judged.folder, judged.file, judged.ok, std::move(judged.head));
                break;
            }
        }
    }
}

void CrawlRound::step(Turn& turn, Clock::time_point now) {
    if (turn.step == Turn::Step::Claim && now >= turn.due)
        claim(turn, now);
    else if (turn.step == Turn::Step::Walk)
        watch(turn, now);
}

void CrawlRound::claim(Turn& turn, Clock::time_point now) {
    SourceLeases::Claim claim = SourceLeases::Claim::Taken;
    if (m_terms.leases) {
        try {
            if (!m_doneSince.isValid())
                m_doneSince = m_terms.leases->leaseClock();
            claim = m_terms.leases->claimSource(m_sources[turn.index], m_terms.holder,
                                                m_terms.length, m_doneSince);
        } catch (const std::exception& error) {
            walkAgainLater(turn, QString::fromLocal8Bit(error.what()), now);
            return;
        }
    }
    switch (claim) {
    case SourceLeases::Claim::Taken:
        startWalk(turn, now);
        break;
    case SourceLeases::Claim::HeldElsewhere:
        m_board.waiting(turn.index, kHeldElsewhere);
        turn.due = now + beat();
        break;
    case SourceLeases::Claim::DoneSince:
        m_board.waiting(turn.index, QString());
        m_board.say(turn.index, QStringLiteral("another crawler walked it during this crawl"));
        turn.step = Turn::Step::Over;
        break;
    }
}

void CrawlRound::startWalk(Turn& turn, Clock::time_point now) {
    const int i = turn.index;
    turn.step = Turn::Step::Walk;
    turn.due = now + beat();
    turn.cut.reset();
    if (m_sources[i].url.scheme() == QLatin1String("smb")) {
        turn.smb = std::make_unique<SmbThread>();
        SmbThread* smb = turn.smb.get();
        smb->thread = std::thread([this, smb, i] {
            smb->result =
                SmbWalk(i, m_sources[i], m_sink, m_limits, m_board, m_stop, smb->lost).run();
            smb->over = true;
            m_waker.wake();
        });
        return;
    }
    turn.curl = std::make_unique<CurlWalk>(i, m_sources[i], m_sink, m_limits, m_hosts, m_judges,
                                           m_board, m_stop);
    turn.curl->begin();
}

// A walk under way: its lease is renewed when due; a walk that ended is concluded.
void CrawlRound::watch(Turn& turn, Clock::time_point now) {
    WalkResult result;
    if (turn.curl) {
        if (!turn.curl->ended()) {
            renew(turn, now);
            if (!turn.curl->ended())
                return;
        }
        m_loop.drop(*turn.curl);
        result = turn.curl->result();
        turn.curl.reset();
    } else {
        if (!turn.smb->over) {
            renew(turn, now);
            return;
        }
        if (turn.smb->thread.joinable())
            turn.smb->thread.join();
        result = turn.smb->result;
        turn.smb.reset();
    }
    conclude(turn, turn.cut.value_or(result), now);
}

void CrawlRound::renew(Turn& turn, Clock::time_point now) {
    if (!m_terms.leases || turn.cut || now < turn.due)
        return;
    turn.due = now + beat();
    try {
        if (m_terms.leases->renewSource(m_sources[turn.index], m_terms.holder, m_terms.length))
            return;
    } catch (const std::exception& error) {
        cut(turn, {WalkEnd::IndexFailed, QString::fromLocal8Bit(error.what())});
        return;
    }
    cut(turn, {WalkEnd::Lost, QString()});
    m_board.ended(turn.index, true, kTakenOver);
}

// Ends the walk at once, without a word more to the sink.
void CrawlRound::cut(Turn& turn, const WalkResult& why) {
    turn.cut = why;
    if (turn.curl)
        turn.curl->lose();
    else
        turn.smb->lost = true;
}

void CrawlRound::conclude(Turn& turn, const WalkResult& result, Clock::time_point now) {
    turn.step = Turn::Step::Over;
    switch (result.end) {
    case WalkEnd::Finished:
        release(turn, true);
        break;
    case WalkEnd::Running:
    case WalkEnd::Abandoned:
        release(turn, false);
        break;
    case WalkEnd::Lost:
        break; // the lease is another crawler's
    case WalkEnd::IndexFailed:
        release(turn, false);
        if (m_stop)
            m_board.ended(turn.index, true,
                          QStringLiteral("the index failed (%1)").arg(result.reason));
        else
            walkAgainLater(turn, result.reason, now);
        break;
    }
}

void CrawlRound::walkAgainLater(Turn& turn, const QString& why, Clock::time_point now) {
    turn.backoff = turn.backoff.count() == 0 ? m_limits.indexRetryFirst
                                             : std::min(turn.backoff * 2, m_limits.indexRetryMost);
    turn.step = Turn::Step::Claim;
    turn.due = now + turn.backoff;
    const QString reason = QStringLiteral("the index failed (%1); walked again in %2 s")
                               .arg(why, secondsText(turn.backoff));
    if (m_board.running(turn.index))
        m_board.ended(turn.index, true, reason);
    else
        m_board.say(turn.index, reason);
}

void CrawlRound::release(const Turn& turn, bool done) {
    if (!m_terms.leases)
        return;
    try {
        m_terms.leases->releaseSource(m_sources[turn.index], m_terms.holder, done);
    } catch (const std::exception& error) {
        m_board.say(turn.index, QStringLiteral("the lease was not released (%1): it runs out")
                                    .arg(QString::fromLocal8Bit(error.what())));
    }
}

// The crawl stops: walks under way are abandoned (their old entries stay) and released.
void CrawlRound::stopAll() {
    const Clock::time_point now = Clock::now();
    for (Turn& turn : m_turns) {
        if (turn.step == Turn::Step::Claim) {
            m_board.waiting(turn.index, QString());
            turn.step = Turn::Step::Over;
        }
        if (turn.step != Turn::Step::Walk)
            continue;
        if (turn.curl) {
            m_loop.drop(*turn.curl);
            turn.curl->abandon(QStringLiteral("the service stops"));
        } else {
            turn.smb->thread.join(); // it sees the stop at its next folder or file
        }
        watch(turn, now);
    }
}
