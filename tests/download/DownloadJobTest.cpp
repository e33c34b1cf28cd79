#include "download/DownloadJob.h"
#include "net/HttpCli.h"
#include "platform/SettingsFile.h"
#include "support/DownloadHelpers.h"
#include "support/EventLoopWait.h"
#include "support/FakeJobTimers.h"
#include "support/ScriptedServer.h"
#include "support/Settle.h"
#include "support/TempHome.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using Outcome = DownloadJob::Outcome;

namespace {

struct JobRun {
    TempHome home;
    SettingsFile ini{home.file(QStringLiteral("Pellmar.ini"))};
    FakeJobTimers timers; // the progress tick runs only when a test fires it
    DownloadJob job{ini};
    QStringList messages;
    QString target = home.file(QStringLiteral("song.mp3"));

    JobRun() {
        // These cases show a single try; retries have tests of their own.
        ini.writeString(QStringLiteral("Options"), QStringLiteral("RetryCount"),
                        QStringLiteral("0"));
        QObject::connect(&job, &DownloadJob::message, [this](const QString& m) { messages << m; });
        job.SetTimerFactory(timers.factory());
    }
    // Starts the job on the server's path and waits for its end and for the server to be
    // done, so that nothing can still arrive.
    void run(const ScriptedServer& server, const QByteArray& path) {
        job.StartTransfer(target, server.url(path));
        ASSERT_TRUE(WaitFor([this] { return job.outcome() != Outcome::Pending; }));
        ASSERT_TRUE(Settle(server));
    }
    bool targetExists() const { return QFile::exists(target); }
    QByteArray targetBytes() const { return home.read(QStringLiteral("song.mp3")); }
};

} // namespace

struct SizeRow {
    const char* name;
    qsizetype bodySize;
    bool announce;
    Outcome outcome;
    bool kept;
    QString caption;
};

TEST(DownloadJob, BodySizeDecidesWhetherTheFileIsKept) {
    const SizeRow rows[] = {
        {"exactly 30000 bytes", 30000, true, Outcome::TooSmall, false, "100% song"},
        {"30001 bytes", 30001, true, Outcome::Complete, true, "100% song"},
        {"no Content-Length", 40000, false, Outcome::Complete, true, "0% song"},
        {"empty reply", 0, false, Outcome::TooSmall, false, "0% song"},
    };
    for (const SizeRow& row : rows) {
        SCOPED_TRACE(row.name);
        const QByteArray body = PatternBytes(row.bodySize, 7);
        ScriptedServer server(ScriptedServer::reply(
            row.bodySize == 0 ? QByteArray()
                              : OkReply(body, row.announce ? body.size() : -1, "audio/mpeg")));
        JobRun run;
        run.run(server, "/dir/song.mp3");
        EXPECT_EQ(run.job.outcome(), row.outcome);
        EXPECT_EQ(run.targetExists(), row.kept);
        if (row.kept) {
            EXPECT_EQ(run.targetBytes(), body);
        }
        EXPECT_EQ(run.job.Finished(), row.kept);
        EXPECT_EQ(run.job.caption(), row.caption);
        EXPECT_EQ(run.messages,
                  row.kept ? QStringList() : QStringList{"File not saved.\rSize less than 30 kb"});
        EXPECT_EQ(run.job.status(),
                  row.bodySize == 0 ? "Host contacted, waiting for reply" : "Receiving data");
    }
}

TEST(DownloadJob, HtmlReplyIsABrokenLinkAndWinsOverALaterLocation) {
    ScriptedServer server(ScriptedServer::reply("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n"
                                                "Location: /elsewhere.mp3\r\n\r\n" +
                                                PatternBytes(50000, 1)));
    JobRun run;
    run.run(server, "/song.mp3");
    EXPECT_EQ(run.job.outcome(), Outcome::Broken);
    EXPECT_EQ(run.job.status(), "Sorry, link broken.");
    EXPECT_TRUE(run.job.okVisible());
    EXPECT_FALSE(run.job.Finished());
    EXPECT_FALSE(run.targetExists());
    EXPECT_EQ(server.connections(), 1);
    EXPECT_TRUE(run.messages.isEmpty());
}

TEST(DownloadJob, RelativeLocationRestartsIntoTheSameTarget) {
    const QByteArray body = PatternBytes(64000, 3);
    ScriptedServer server({ScriptedServer::reply("HTTP/1.0 302 Found\r\nContent-Length: 7\r\n"
                                                 "Location: ../b/real.mp3\r\n\r\nmoved!\n"),
                           ScriptedServer::reply(OkReply(body, body.size(), "audio/mpeg"))});
    JobRun run;
    run.run(server, "/a/x/song.mp3");
    EXPECT_EQ(run.job.outcome(), Outcome::Complete);
    EXPECT_EQ(run.targetBytes(), body);
    ASSERT_EQ(server.requests().size(), 2);
    EXPECT_TRUE(server.requests()[1].startsWith("GET /a/b/real.mp3 HTTP/1.0\r\n"));
    // The redirect's client reports no steps of its own.
    EXPECT_EQ(run.job.status(), "Contacting host");
    EXPECT_EQ(run.job.caption(), "100% song");
}

TEST(DownloadJob, RedirectKeepsTheProxy) {
    const QByteArray body = PatternBytes(40000, 4);
    ScriptedServer proxy({ScriptedServer::reply("HTTP/1.0 301 Moved\r\n"
                                                "Location: http://files.example/b.mp3\r\n\r\n"),
                          ScriptedServer::reply(OkReply(body, body.size(), "audio/mpeg"))});
    JobRun run;
    run.ini.writeString("Options", "UseProxy", "True");
    run.ini.writeString("Options", "ProxyServer", "127.0.0.1");
    run.ini.writeString("Options", "ProxyPort", QString::number(proxy.port()));
    DownloadJob job(run.ini);
    job.StartTransfer(run.target, "http://music.example/a.mp3");
    ASSERT_TRUE(WaitFor([&] { return job.outcome() != Outcome::Pending; }));
    EXPECT_EQ(job.outcome(), Outcome::Complete);
    ASSERT_EQ(proxy.requests().size(), 2);
    EXPECT_TRUE(proxy.requests()[0].startsWith("GET http://music.example/a.mp3 HTTP/1.0\r\n"));
    EXPECT_TRUE(proxy.requests()[1].startsWith("GET http://files.example/b.mp3 HTTP/1.0\r\n"));
    EXPECT_EQ(run.targetBytes(), body);
}

TEST(DownloadJob, ContentLocationIsNotARedirect) {
    const QByteArray body = PatternBytes(40000, 5);
    ScriptedServer server(ScriptedServer::reply(
        "HTTP/1.0 200 OK\r\nContent-Location: song.en.mp3\r\nContent-Length: 40000\r\n\r\n" +
        body));
    JobRun run;
    run.run(server, "/song.mp3");
    EXPECT_EQ(run.job.outcome(), Outcome::Complete);
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(run.targetBytes(), body);
}

TEST(DownloadJob, EndlessRedirectsEndLikeAnEmptyReply) {
    ScriptedServer server(ScriptedServer::reply("HTTP/1.0 302 Found\r\nLocation: /again\r\n\r\n"));
    JobRun run;
    run.run(server, "/song.mp3");
    EXPECT_EQ(run.job.outcome(), Outcome::TooSmall);
    EXPECT_EQ(server.connections(), DownloadJob::kMaxRedirects + 1);
    EXPECT_FALSE(run.targetExists());
}

TEST(DownloadJob, BodyCutShortIsIncompleteAndKeepsWhatAResumeNeeds) {
    const QByteArray body = PatternBytes(90000, 6);
    ScriptedServer server(ScriptedServer::reply(
        "HTTP/1.0 200 OK\r\nETag: \"abc\"\r\nLast-Modified: Mon, 07 Dec 2026 10:00:00 "
        "GMT\r\nContent-Length: 200000\r\n\r\n" +
        body));
    JobRun run;
    run.run(server, "/song.mp3");
    EXPECT_EQ(run.job.outcome(), Outcome::Incomplete);
    EXPECT_EQ(run.job.status(), "Download incomplete");
    EXPECT_FALSE(run.job.Finished());
    EXPECT_EQ(run.job.fileLengthText(), "200000");
    const DownloadJob::ResumeInfo info = run.job.resumeInfo();
    EXPECT_EQ(info.url, server.url("/song.mp3"));
    EXPECT_EQ(info.target, run.target);
    EXPECT_EQ(info.bytesOnDisk, run.job.BytesReceived());
    EXPECT_EQ(info.eTag, "\"abc\"");
    EXPECT_EQ(info.lastModified, "Mon, 07 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(info.bytesOnDisk, body.size());
    EXPECT_EQ(run.targetBytes(), body);
}

// The length is read as the client reads a field: without a blank after the colon, in any
// case, with blanks and tabs around it. A body that ends short of it is incomplete.
TEST(DownloadJob, ContentLengthIsReadInEverySpelling) {
    const struct {
        const char* what;
        QByteArray line;
    } rows[] = {
        {"one blank", "Content-Length: 200000"},
        {"no blank", "Content-Length:200000"},
        {"lower case, tab and trailing blank", "content-length:\t200000 "},
    };
    const QByteArray body = PatternBytes(90000, 6);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ScriptedServer server(
            ScriptedServer::reply("HTTP/1.0 200 OK\r\n" + row.line + "\r\n\r\n" + body));
        JobRun run;
        run.run(server, "/song.mp3");
        EXPECT_EQ(run.job.outcome(), Outcome::Incomplete);
        EXPECT_EQ(run.job.fileLengthText(), "200000");
        EXPECT_EQ(run.targetBytes(), body);
    }
}

TEST(DownloadJob, CancelKeepsThePartialFile) {
    const QByteArray part = PatternBytes(20000, 8);
    ScriptedServer server([&](ScriptedServer::Connection& c) {
        c.readRequest();
        c.send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + part);
        c.waitUntilReleased();
    });
    JobRun run;
    run.job.StartTransfer(run.target, server.url("/song.mp3"));
    ASSERT_TRUE(WaitFor([&] { return run.job.BytesReceived() == part.size(); }));
    EXPECT_EQ(run.job.caption(), "20% song");
    run.job.UserStop();
    server.release();
    EXPECT_TRUE(run.job.Finished());
    EXPECT_EQ(run.job.status(), "Receiving data");
    EXPECT_EQ(run.targetBytes(), part);
}

TEST(DownloadJob, QueuedJobHasAnEmptyFileAndTicks) {
    JobRun run;
    run.job.QueueTransfer(run.target, "http://127.0.0.1:9/x.mp3");
    EXPECT_EQ(run.job.status(), "File queued");
    EXPECT_EQ(run.job.caption(), "0% song");
    EXPECT_TRUE(run.targetExists());
    EXPECT_TRUE(run.targetBytes().isEmpty());
    EXPECT_EQ(run.timers.tick().interval, DownloadJob::kTickMs);
    EXPECT_TRUE(run.timers.tick().active);
    EXPECT_EQ(run.job.TickCount(), 0);
    run.timers.tick().fire();
    EXPECT_EQ(run.job.TickCount(), 1);
    EXPECT_TRUE(run.timers.tick().active); // it goes on ticking
    EXPECT_EQ(run.job.speedText(), "0.00");
    EXPECT_EQ(run.job.timeLeftText(), "");
}

TEST(DownloadJob, TickShowsSpeedAndTimeLeft) {
    // 30720 bytes of an announced length arrive, then the server goes.
    struct Row {
        qint64 announced;
        QString timeLeft;
    };
    const Row rows[] = {
        {1024000, "00:01:39"}, // 993280 bytes at 10 kB/s: 99.3 s
        {30720, "00:00:00"},   // all there
        {30720 + 86399 * qint64(10000), "23:59:59"},
        {30720 + 86400 * qint64(10000), ""}, // a day or more: the text stays
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.announced);
        ScriptedServer server(
            ScriptedServer::reply(OkReply(PatternBytes(30720, 2), row.announced, "audio/mpeg")));
        JobRun run;
        run.run(server, "/song.mp3");
        EXPECT_EQ(run.job.BytesReceived(), 30720);
        EXPECT_EQ(run.job.TickCount(), 0);
        run.timers.tick().fire();
        EXPECT_EQ(run.job.speedText(), "10.00");
        EXPECT_EQ(run.job.timeLeftText(), row.timeLeft);
        run.timers.tick().fire();
        EXPECT_EQ(run.job.speedText(), "5.00");
    }
}

TEST(DownloadJob, TargetThatCannotBeCreatedStopsTheSetUp) {
    ScriptedServer server(ScriptedServer::reply("HTTP/1.0 200 OK\r\n\r\n"));
    JobRun run;
    const QString bad = run.home.file(QStringLiteral("missing/song.mp3"));
    try {
        run.job.StartTransfer(bad, server.url("/song.mp3"));
        ADD_FAILURE() << "no error";
    } catch (const PellmarError& error) {
        EXPECT_EQ(error.message(), "Cannot create file " + bad);
    }
    ASSERT_TRUE(Settle(server));
    EXPECT_EQ(server.connections(), 0);
}
