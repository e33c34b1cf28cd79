// Crawlers that share one index through its leases, and walks of an index that fails.
#include "MemorySink.h"
#include "crawl/CrawlSources.h"
#include "crawl/Crawler.h"
#include "crawl/SourceLeases.h"
#include "searchd/fileservers/FileServers.h"
#include "searchd/library/SampleLibrary.h"
#include "support/CrawlSite.h"
#include "support/FreePort.h"
#include "support/LocalServerProcess.h"

#include <QSet>
#include <QTemporaryDir>
#include <QTimeZone>
#include <condition_variable>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

// Leases in memory, on a clock that moves only when the test says so.
class MemoryLeases : public SourceLeases {
public:
    std::function<void()> onHeldElsewhere; // called (unlocked) when a claim finds another holder
    int claimFailures = 0;                 // the first claims of each source throw

    QDateTime leaseClock() override {
        std::lock_guard lock(m_mutex);
        return m_now;
    }
    Claim claimSource(const CrawlSource& source, const QString& holder, std::chrono::seconds length,
                      const QDateTime& doneSince) override {
        std::unique_lock lock(m_mutex);
        Lease& lease = m_leases[source.id];
        if (++lease.claims <= claimFailures)
            throw std::runtime_error("the database is away");
        if (lease.doneAt.isValid() && lease.doneAt >= doneSince)
            return Claim::DoneSince;
        if (!lease.holder.isEmpty() && lease.holder != holder && lease.until > m_now) {
            ++heldElsewhere;
            lock.unlock();
            if (onHeldElsewhere)
                onHeldElsewhere();
            return Claim::HeldElsewhere;
        }
        lease.holder = holder;
        lease.until = m_now.addSecs(length.count());
        return Claim::Taken;
    }
    bool renewSource(const CrawlSource& source, const QString& holder,
                     std::chrono::seconds length) override {
        std::lock_guard lock(m_mutex);
        Lease& lease = m_leases[source.id];
        if (m_dead.contains(holder))
            return true; // a crashed crawler renews nothing; its lease just runs out
        if (lease.holder != holder) {
            m_lost.insert(holder);
            return false;
        }
        lease.until = m_now.addSecs(length.count());
        return true;
    }
    void releaseSource(const CrawlSource& source, const QString& holder, bool done) override {
        std::lock_guard lock(m_mutex);
        Lease& lease = m_leases[source.id];
        if (m_dead.contains(holder) || lease.holder != holder)
            return;
        lease.holder.clear();
        if (done)
            lease.doneAt = m_now;
    }

    void advance(std::chrono::seconds by) {
        std::lock_guard lock(m_mutex);
        m_now = m_now.addSecs(by.count());
    }
    void takeOver(const QString& id, const QString& holder) {
        std::lock_guard lock(m_mutex);
        m_leases[id].holder = holder;
    }
    void kill(const QString& holder) {
        std::lock_guard lock(m_mutex);
        m_dead.insert(holder);
    }
    bool lost(const QString& holder) {
        std::lock_guard lock(m_mutex);
        return m_lost.contains(holder);
    }
    int heldElsewhere = 0;

private:
    struct Lease {
        QString holder;
        QDateTime until, doneAt;
        int claims = 0;
    };
    std::mutex m_mutex;
    QDateTime m_now = QDateTime(QDate(2026, 1, 1), QTime(12, 0), QTimeZone::utc());
    QHash<QString, Lease> m_leases;
    QSet<QString> m_dead, m_lost;
};

// A MemorySink that throws on chosen calls and tells the test about each stored folder.
class FailingSink : public MemorySink {
public:
    QString failing;  // "beginCrawl", "storeFolder" or "finishCrawl"
    int failFrom = 1; // the first failing call of each source, counted from 1
    int failures = 0; // how many in a row
    std::function<void(const CrawlSource&)> afterStore;
    std::function<bool()> counting = [] { return false; }; // writes while true are counted
    std::atomic<int> counted{0};

    qint64 beginCrawl(const CrawlSource& source) override {
        maybeFail("beginCrawl", source);
        return MemorySink::beginCrawl(source);
    }
    void storeFolder(const CrawlSource& source, qint64 crawl, const QString& folder,
                     const QByteArray& fingerprint, const QList<CrawledFile>& files) override {
        write();
        maybeFail("storeFolder", source);
        MemorySink::storeFolder(source, crawl, folder, fingerprint, files);
        if (afterStore)
            afterStore(source);
    }
    void keepFolder(const CrawlSource& source, qint64 crawl, const QString& folder) override {
        write();
        MemorySink::keepFolder(source, crawl, folder);
    }
    void finishCrawl(const CrawlSource& source, qint64 crawl, const WalkErrors& errors) override {
        write();
        maybeFail("finishCrawl", source);
        MemorySink::finishCrawl(source, crawl, errors);
    }
    void abandonCrawl(const CrawlSource& source, qint64 crawl, const QString& reason) override {
        write();
        MemorySink::abandonCrawl(source, crawl, reason);
    }

private:
    void write() {
        if (counting())
            ++counted;
    }
    void maybeFail(const QString& call, const CrawlSource& source) {
        if (call != failing)
            return;
        std::lock_guard lock(m_callsMutex);
        const int n = ++m_calls[source.id];
        if (n >= failFrom && n < failFrom + failures)
            throw std::runtime_error("the database is away");
    }
    std::mutex m_callsMutex;
    QHash<QString, int> m_calls;
};

// The printed lines of a crawler, with a wait for those that hold a text.
struct Lines {
    std::mutex mutex;
    std::condition_variable changed;
    QStringList lines;

    Crawler::Print print() {
        return [this](const QString& line) {
            std::lock_guard lock(mutex);
            lines << line;
            changed.notify_all();
        };
    }
    QStringList matching(const QString& part) {
        std::lock_guard lock(mutex);
        return lines.filter(part);
    }
    bool waitFor(const QString& part, int count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::minutes(2),
                                [&] { return lines.filter(part).size() >= count; });
    }
};

// One library served over HTTP (nginx), FTP and SMB.
struct ServedLibrary {
    QTemporaryDir folder;
    LocalServerProcess nginx{"/usr/sbin/nginx", NginxConfig(folder.path(), "    autoindex on;")};
    std::unique_ptr<FileServers> ftpAndSmb;
    QList<CrawlSource> sources;

    explicit ServedLibrary(int files) {
        SampleLibrary::write(folder.path(), files);
        EXPECT_EQ(nginx.start(), QString());
        ftpAndSmb = std::make_unique<FileServers>(folder.path(), "mp3", true, true);
        EXPECT_EQ(ftpAndSmb->problems(), QStringList());
        sources = {
            sourceFor(QStringLiteral("http://127.0.0.1:%1/").arg(nginx.port())),
            sourceFor(QStringLiteral("ftp://127.0.0.1:%1/").arg(ftpAndSmb->ftp()->port())),
            sourceFor(QStringLiteral("smb://127.0.0.1:%1/mp3/").arg(ftpAndSmb->smb()->port()))};
    }
};

constexpr std::chrono::seconds kLease(3);

} // namespace

// Two crawlers over the same sources and one lease store: each source is walked once.
TEST(SharedIndex, TwoCrawlersWalkEachSourceOnce) {
    ServedLibrary library(40);
    ASSERT_FALSE(HasFailure());
    MemoryLeases leases;
    MemorySink sink;
    Lines linesA, linesB;
    Crawler a(library.sources, sink, {}, linesA.print());
    Crawler b(library.sources, sink, {}, linesB.print());
    a.setLeases(leases, "a", kLease);
    b.setLeases(leases, "b", kLease);
    a.start();
    b.start();
    a.wait();
    b.wait();
    for (const CrawlSource& source : library.sources) {
        SCOPED_TRACE(source.id.toStdString());
        const MemorySink::Source result = sink.source(source.id);
        EXPECT_EQ(result.crawl, 1); // one beginCrawl
        EXPECT_EQ(result.finished, 1);
        EXPECT_EQ(sink.files(source.id).size(), 40);
        const QString shown = CrawlSources::shown(source.url);
        const int walkedByA = linesA.matching("crawl of " + shown + " finished after").size();
        const int walkedByB = linesB.matching("crawl of " + shown + " finished after").size();
        EXPECT_EQ(walkedByA + walkedByB, 1);
        const QString doneElsewhere =
            "crawl of " + shown + ": another crawler walked it during this crawl";
        EXPECT_EQ((walkedByA ? linesB : linesA).matching(doneElsewhere).size(), 1);
    }
}

// A crawler whose lease another crawler took over writes nothing more for that source, even
// while one of its requests waits on a slow server.
TEST(SharedIndex, TakenOverLeaseStopsTheWalk) {
    LocalServerProcess site("/usr/bin/python3", [](const QString& folder, unsigned short port) {
        return QStringList{PELLMAR_CRAWL_SERVER, QString::number(port), folder};
    });
    ASSERT_EQ(site.start(), QString());
    const CrawlSource source =
        sourceFor(QStringLiteral("http://127.0.0.1:%1/site/").arg(site.port()));
    MemoryLeases leases;
    FailingSink sink;
    sink.afterStore = [&](const CrawlSource& stored) { leases.takeOver(stored.id, "other"); };
    sink.counting = [&] { return leases.lost("a"); };
    Lines lines;
    Crawler crawler({source}, sink, {}, lines.print());
    crawler.setLeases(leases, "a", kLease);
    crawler.crawlOnce();

    EXPECT_TRUE(leases.lost("a"));
    EXPECT_EQ(sink.counted, 0);
    const MemorySink::Source result = sink.source(source.id);
    EXPECT_EQ(result.finished, 0);
    EXPECT_EQ(result.abandoned, 0);
    const QString shown = CrawlSources::shown(source.url);
    EXPECT_EQ(lines.matching("stopped early").size(), 1);
    EXPECT_EQ(lines
                  .matching("crawl of " + shown +
                            " stopped early (another crawler took the source over) after ")
                  .size(),
              1);
    EXPECT_EQ(crawler.states()[0].progress.lastErrors.last(),
              "another crawler took the source over");
}

// A crawler that dies mid-source (no release) leaves the source to another crawler once its
// lease runs out.
TEST(SharedIndex, DeadCrawlersSourcePassesOnWhenItsLeaseRunsOut) {
    ServedLibrary library(40);
    ASSERT_FALSE(HasFailure());
    const QList<CrawlSource> sources = {library.sources[0]};
    MemoryLeases leases;
    FailingSink sink;
    {
        Crawler dying(sources, sink, {}, [](const QString&) {});
        dying.setLeases(leases, "dying", kLease);
        sink.afterStore = [&](const CrawlSource&) {
            leases.kill("dying");
            dying.stop();
        };
        dying.crawlOnce();
        sink.afterStore = nullptr;
    }
    ASSERT_EQ(sink.source(sources[0].id).finished, 0);

    leases.onHeldElsewhere = [&] { leases.advance(kLease + std::chrono::seconds(1)); };
    Lines lines;
    Crawler heir(sources, sink, {}, lines.print());
    heir.setLeases(leases, "heir", kLease);
    heir.crawlOnce();
    EXPECT_EQ(leases.heldElsewhere, 1);
    EXPECT_EQ(lines
                  .matching("crawl of " + CrawlSources::shown(sources[0].url) +
                            " waiting: another crawler walks it")
                  .size(),
              1);
    EXPECT_EQ(sink.source(sources[0].id).finished, 1);
    EXPECT_EQ(sink.files(sources[0].id).size(), 40);
    EXPECT_EQ(heir.states()[0].progress.waiting, QString());
}

// An index that fails on a sink or lease call: no crash, the source is walked again after a pause,
// keeping the folders the failed walks stored, until a walk finishes with every file.
TEST(SharedIndex, FailingIndexCallsAreWalkedAgainToTheEnd) {
    ServedLibrary library(40);
    ASSERT_FALSE(HasFailure());
    struct Row {
        QString call; // the sink or lease call that fails
        int failFrom, failures;
        QStringList waits; // the pauses announced, in order
        bool keptAllAtEnd; // the last walk found every folder stored already
    };
    const QList<Row> rows = {
        {"storeFolder", 2, 2, {"0.05", "0.1"}, false},
        {"finishCrawl", 1, 1, {"0.05"}, true},
        {"beginCrawl", 1, 3, {"0.05", "0.1", "0.15"}, false},
        {"claimSource", 1, 2, {"0.05", "0.1"}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.call.toStdString());
        FailingSink sink;
        sink.failing = row.call;
        sink.failFrom = row.failFrom;
        sink.failures = row.failures;
        CrawlLimits limits;
        limits.indexRetryFirst = std::chrono::milliseconds(50);
        limits.indexRetryMost = std::chrono::milliseconds(150);
        MemoryLeases leases;
        leases.claimFailures = row.call == "claimSource" ? row.failures : 0;
        Lines lines;
        Crawler crawler(library.sources, sink, limits, lines.print());
        crawler.setLeases(leases, "a", kLease);
        crawler.crawlOnce();
        for (const CrawlSource& source : library.sources) {
            SCOPED_TRACE(source.id.toStdString());
            const MemorySink::Source result = sink.source(source.id);
            EXPECT_EQ(result.finished, 1);
            EXPECT_EQ(result.abandoned, 0);
            EXPECT_EQ(sink.files(source.id).size(), 40);
            EXPECT_EQ(result.kept, row.keptAllAtEnd ? result.folders.size() : row.failFrom - 1);
            QStringList said;
            for (const QString& line :
                 lines.matching("crawl of " + CrawlSources::shown(source.url)))
                if (line.contains("the index failed"))
                    said << line.section("walked again in ", 1).section(' ', 0, 0);
            EXPECT_EQ(said, row.waits);
        }
    }
}

// stop() during the pause after a failed index call ends the crawl: it does not wait out the
// pause (an hour here).
TEST(SharedIndexUnit, StopDuringThePauseEndsTheCrawl) {
    ClosedPort http, smb;
    const QList<CrawlSource> sources = {
        sourceFor(QStringLiteral("http://127.0.0.1:%1/").arg(http.port)),
        sourceFor(QStringLiteral("smb://127.0.0.1:%1/share/").arg(smb.port))};
    FailingSink sink;
    sink.failing = "beginCrawl";
    sink.failures = 1000;
    CrawlLimits limits;
    limits.indexRetryFirst = std::chrono::hours(1);
    Lines lines;
    Crawler crawler(sources, sink, limits, lines.print());
    crawler.start();
    ASSERT_TRUE(
        lines.waitFor("(the index failed (the database is away); walked again in 3600 s)", 2));
    crawler.stop();
    crawler.wait();
    for (const CrawlSource& source : sources)
        EXPECT_EQ(sink.source(source.id).crawl, 0) << source.id.toStdString();
    EXPECT_EQ(lines.matching("the index failed").size(), 2);
}
