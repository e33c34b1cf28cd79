#include "download/DownloadQueue.h"
#include "download/DownloadJob.h"
#include "net/HttpCli.h"
#include "platform/Errors.h"
#include "platform/SettingsFile.h"
#include "support/EventLoopWait.h"
#include "support/FakeJobTimers.h"
#include "support/ScriptedServer.h"
#include "support/TempHome.h"

#include <QFile>
#include <gtest/gtest.h>
#include <vector>

namespace {

// As plain vectors: Qt 6.4 compares two empty lists of pointers by handing memcmp a null
// pointer, which the sanitizer build stops on.
std::vector<DownloadJob*> Listed(const QList<DownloadJob*>& jobs) {
    return {jobs.begin(), jobs.end()};
}

// A server that accepts and then holds every connection, so jobs stay running.
ScriptedServer::Script holdConnection() {
    return [](ScriptedServer::Connection& c) {
        c.readRequest();
        c.waitUntilReleased();
    };
}

struct QueueRun {
    TempHome home;
    SettingsFile ini{home.file(QStringLiteral("Pellmar.ini"))};
    ScriptedServer server{holdConnection()};
    FakeJobTimers pump; // the tests run the pump's ticks themselves
    DownloadQueue queue{ini, nullptr, pump.factory()};
    int created = 0;

    QueueRun(const QString& limit, const QString& number) {
        ini.writeString("Options", "Limit", limit);
        ini.writeString("Options", "LimitNumber", number);
        QObject::connect(&queue, &DownloadQueue::jobCreated, [this](DownloadJob*) { ++created; });
    }
    ~QueueRun() {
        for (int i = 0; i < 10; ++i)
            server.release();
    }
    DownloadJob* save(int n) {
        return queue.StartDownload(home.file(QStringLiteral("f%1.mp3").arg(n)),
                                   server.url("/f" + QByteArray::number(n) + ".mp3"));
    }
    bool started(DownloadJob* job) const { return job->client()->State() != hsReady; }
};

} // namespace

TEST(DownloadQueue, LimitDecidesWhichSavesStartAtOnce) {
    struct Row {
        const char* limit;
        const char* number;
        int saves;
        int active;
        int queued;
    };
    const Row rows[] = {
        {"True", "2", 3, 2, 1}, {"False", "0", 3, 3, 0}, {"True", "0", 2, 0, 2},
        {"yes", "1", 2, 1, 1},  {"True", "5", 3, 3, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(QStringLiteral("%1 %2").arg(row.limit, row.number).toStdString());
        QueueRun run(row.limit, row.number);
        for (int i = 0; i < row.saves; ++i)
            run.save(i);
        EXPECT_EQ(run.created, row.saves);
        ASSERT_EQ(run.queue.ActiveDownloads().size(), row.active);
        ASSERT_EQ(run.queue.QueuedDownloads().size(), row.queued);
        for (DownloadJob* job : run.queue.ActiveDownloads())
            EXPECT_EQ(job->status(), "Contacting host");
        for (DownloadJob* job : run.queue.QueuedDownloads()) {
            EXPECT_EQ(job->status(), "File queued");
            EXPECT_FALSE(run.started(job));
            EXPECT_TRUE(QFile::exists(job->TargetPath()));
        }
        run.queue.PumpDownloads();
        EXPECT_EQ(run.queue.ActiveDownloads().size(), row.active); // nothing finished, no slot
    }
}

TEST(DownloadQueue, QueuedJobStartsOneTickAfterAFinishedOneGoes) {
    QueueRun run("True", "2");
    DownloadJob* first = run.save(1);
    run.save(2);
    DownloadJob* third = run.save(3);
    first->CloseRequest();
    run.queue.PumpDownloads(); // the finished job goes; nothing starts in the same tick
    EXPECT_EQ(run.queue.ActiveDownloads().size(), 1);
    EXPECT_EQ(run.queue.QueuedDownloads(), QList<DownloadJob*>{third});
    EXPECT_FALSE(run.started(third));
    run.queue.PumpDownloads();
    EXPECT_TRUE(run.queue.QueuedDownloads().isEmpty());
    EXPECT_EQ(run.queue.ActiveDownloads().last(), third);
    EXPECT_TRUE(run.started(third));
    EXPECT_EQ(third->status(), "File queued"); // the pump leaves the text alone
}

// The queue runs its own pump: no window needs to drive it.
TEST(DownloadQueue, ItsOwnTimerPumpsEverySecondAndKeepsTicking) {
    QueueRun run("True", "1");
    FakeJobTimers::Timer& timer = run.pump.wait(0);
    EXPECT_TRUE(timer.active);
    EXPECT_EQ(timer.interval, 1000);
    DownloadJob* first = run.save(1);
    DownloadJob* second = run.save(2);
    first->CloseRequest();
    timer.fire();
    EXPECT_EQ(Listed(run.queue.ActiveDownloads()), Listed({}));
    EXPECT_TRUE(timer.active);
    timer.fire();
    EXPECT_EQ(run.queue.ActiveDownloads(), QList<DownloadJob*>{second});
    EXPECT_TRUE(run.started(second));

    // A tick that fails on a mistyped limit leaves the next tick due.
    run.save(3);
    run.ini.writeString("Options", "LimitNumber", "two");
    EXPECT_THROW(timer.fire(), EConvertError);
    EXPECT_TRUE(timer.active);
    EXPECT_EQ(timer.interval, 1000);
}

TEST(DownloadQueue, FinishedJobsGoOnePerTick) {
    QueueRun run("False", "0");
    DownloadJob* first = run.save(1);
    DownloadJob* second = run.save(2);
    DownloadJob* third = run.save(3);
    second->UserStop();
    third->CloseRequest();
    run.queue.PumpDownloads();
    EXPECT_EQ(run.queue.ActiveDownloads(), (QList<DownloadJob*>{first, third}));
    run.queue.PumpDownloads();
    EXPECT_EQ(run.queue.ActiveDownloads(), QList<DownloadJob*>{first});
}

TEST(DownloadQueue, LimitNumberThatIsNotAnIntegerLeavesNoJob) {
    QueueRun run("True", "two");
    try {
        run.save(1);
        ADD_FAILURE() << "no error";
    } catch (const EConvertError& error) {
        EXPECT_EQ(error.message(), "'two' is not a valid integer value");
    }
    EXPECT_EQ(run.created, 0);
    EXPECT_TRUE(run.queue.ActiveDownloads().isEmpty());
    EXPECT_FALSE(QFile::exists(run.home.file("f1.mp3")));
    run.queue.PumpDownloads(); // nothing queued: an idle queue raises no error every second
}

// The options dialog may switch the limit off, or change it, while jobs wait.
TEST(DownloadQueue, LimitChangedWhileJobsWaitDecidesTheNextTick) {
    struct Row {
        const char* limit;
        const char* number;
        int started;
    };
    const Row rows[] = {
        {"False", "0", 3}, {"False", "junk", 3}, {"True", "2", 2}, {"True", "0", 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(QStringLiteral("%1 %2").arg(row.limit, row.number).toStdString());
        QueueRun run("True", "0");
        const QList<DownloadJob*> jobs = {run.save(1), run.save(2), run.save(3)};
        run.ini.writeString("Options", "Limit", row.limit);
        run.ini.writeString("Options", "LimitNumber", row.number);
        run.queue.PumpDownloads();
        EXPECT_EQ(Listed(run.queue.ActiveDownloads()), Listed(jobs.mid(0, row.started)));
        EXPECT_EQ(Listed(run.queue.QueuedDownloads()), Listed(jobs.mid(row.started)));
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(run.started(jobs[i]), i < row.started) << i;
    }
}

// Quitting stops every job as Cancel does: the bytes so far stay on disk, and a queued job
// never starts.
TEST(DownloadQueue, StopAllKeepsWhatArrivedAndStartsNothing) {
    TempHome home;
    SettingsFile ini{home.file(QStringLiteral("Pellmar.ini"))};
    ini.writeString("Options", "Limit", "True");
    ini.writeString("Options", "LimitNumber", "1");
    const QByteArray part(40000, 'm');
    ScriptedServer server([&part](ScriptedServer::Connection& c) {
        c.readRequest();
        c.send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + part);
        c.waitForPeerClose();
    });
    FakeJobTimers pump;
    DownloadQueue queue{ini, nullptr, pump.factory()};
    DownloadJob* running = queue.StartDownload(home.file("a.mp3"), server.url("/a.mp3"));
    DownloadJob* waiting = queue.StartDownload(home.file("b.mp3"), server.url("/b.mp3"));
    ASSERT_TRUE(WaitFor([&] { return running->BytesReceived() == part.size(); }));

    queue.StopAll();
    EXPECT_TRUE(queue.QueuedDownloads().isEmpty());
    EXPECT_EQ(queue.ActiveDownloads(), (QList<DownloadJob*>{running, waiting}));
    for (DownloadJob* job : {running, waiting}) {
        EXPECT_TRUE(job->Finished());
        EXPECT_EQ(job->client(), nullptr);
        EXPECT_EQ(job->outcome(), DownloadJob::Outcome::Stopped);
    }
    EXPECT_EQ(home.read("a.mp3"), part);
    EXPECT_EQ(home.read("b.mp3"), QByteArray());
    queue.PumpDownloads();
    queue.PumpDownloads();
    EXPECT_TRUE(queue.ActiveDownloads().isEmpty());
    EXPECT_EQ(server.connections(), 1);
}
