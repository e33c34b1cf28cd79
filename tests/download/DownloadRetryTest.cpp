#include "download/DownloadJob.h"
#include "download/RangeReply.h"
#include "download/RetryPolicy.h"
#include "net/HttpCli.h"
#include "platform/SettingsFile.h"
#include "support/DownloadHelpers.h"
#include "support/EventLoopWait.h"
#include "support/FakeJobTimers.h"
#include "support/FreePort.h"
#include "support/ScriptedServer.h"
#include "support/TempHome.h"

#include <QFile>
#include <gtest/gtest.h>
#include <memory>

using Outcome = DownloadJob::Outcome;
using Script = ScriptedServer::Script;

namespace {

const QByteArray kBody = PatternBytes(100000, 1);
const QByteArray kNewBody = PatternBytes(100000, 2);

QByteArray head(const QByteArray& status, const QList<QByteArray>& fields) {
    QByteArray text = "HTTP/1.0 " + status + "\r\n";
    for (const QByteArray& field : fields)
        text += field + "\r\n";
    return text + "\r\n";
}

// The whole file with its ETag, cut off after cut bytes of the body.
Script cutWhole(const QByteArray& body, qsizetype cut, const QByteArray& eTag = "\"v1\"") {
    return ScriptedServer::reply(
        head("200 OK", {"ETag: " + eTag, "Content-Length: " + QByteArray::number(body.size())}) +
        body.left(cut));
}

Script whole(const QByteArray& body, const QByteArray& eTag = "\"v1\"") {
    return cutWhole(body, body.size(), eTag);
}

// A 206 that claims to start at from and carries body from there.
Script partial(const QByteArray& body, qsizetype from, const QByteArray& eTag = "\"v1\"") {
    return ScriptedServer::reply(
        head("206 Partial Content",
             {"ETag: " + eTag, "Content-Length: " + QByteArray::number(body.size() - from),
              "Content-Range: bytes " + QByteArray::number(from) + '-' +
                  QByteArray::number(body.size() - 1) + '/' + QByteArray::number(body.size())}) +
        body.mid(from));
}

Script status(const QByteArray& line, const QList<QByteArray>& fields = {}) {
    return ScriptedServer::reply(head(line, fields));
}

// A server that answers any Range from body (a 206 from the byte asked for, whatever the
// If-Range says), else the whole body; eTag may be empty.
Script anyRange(const QByteArray& body, const QByteArray& eTag) {
    return [body, eTag](ScriptedServer::Connection& c) {
        const QByteArray request = c.readRequest();
        const qsizetype at = request.indexOf("Range: bytes=");
        QList<QByteArray> fields;
        if (!eTag.isEmpty())
            fields << "ETag: " + eTag;
        if (at < 0) {
            c.send(head("200 OK", fields) + body);
            return;
        }
        const QByteArray from = request.mid(at + 13, request.indexOf('-', at) - at - 13);
        fields << "Content-Range: bytes " + from + '-' + QByteArray::number(body.size() - 1) + '/' +
                      QByteArray::number(body.size());
        c.send(head("206 Partial Content", fields) + body.mid(from.toLongLong()));
    };
}

// One job with timers the test fires: every wait is skipped at once and its texts noted.
struct RetryRun {
    TempHome home;
    SettingsFile ini{home.file(QStringLiteral("Pellmar.ini"))};
    FakeJobTimers timers;
    std::unique_ptr<DownloadJob> job;
    QStringList waits;
    QString target = home.file(QStringLiteral("song.mp3"));

    explicit RetryRun(int retryCount = 5) {
        ini.writeString(QStringLiteral("Options"), QStringLiteral("RetryCount"),
                        QString::number(retryCount));
        ini.writeString(QStringLiteral("Options"), QStringLiteral("StallSeconds"),
                        QStringLiteral("7"));
        job = std::make_unique<DownloadJob>(ini);
        job->SetTimerFactory(timers.factory());
    }
    void start(const QByteArray& url,
               DownloadJob::TargetMode mode = DownloadJob::TargetMode::Replace) {
        job->StartTransfer(target, url, mode);
    }
    // Fires the waits as they come until the job ends.
    void finish() {
        for (;;) {
            ASSERT_TRUE(
                WaitFor([this] { return job->outcome() != Outcome::Pending || job->Waiting(); }));
            if (job->outcome() != Outcome::Pending)
                return;
            while (timers.wait().active) {
                waits << job->status();
                timers.wait().fire();
            }
        }
    }
    QByteArray targetBytes() const { return home.read(QStringLiteral("song.mp3")); }
};

QByteArray rangeLines(const QByteArray& request) {
    QByteArray lines;
    for (const QByteArray& line : request.split('\n'))
        if (line.startsWith("Range:") || line.startsWith("If-Range:"))
            lines += line.trimmed() + ';';
    return lines;
}

} // namespace

struct ServerRow {
    const char* name;
    QList<Script> scripts;
    int retryCount;
    Outcome outcome;
    QByteArray file;
    QList<QByteArray> ranges; // the Range lines of each request
    QStringList waits;
};

TEST(DownloadRetry, BrokenTransfersContinueWithoutSplicingTwoVersions) {
    const QByteArray resume = "Range: bytes=40000-;If-Range: \"v1\";";
    const QByteArray overlap = "Range: bytes=23616-;"; // the last 16 KiB of 40000 again
    const ServerRow rows[] = {
        {"cut, then the rest",
         {cutWhole(kBody, 40000), partial(kBody, 40000)},
         5,
         Outcome::Complete,
         kBody,
         {"", resume},
         {"Retrying (1 of 5) in 0 s"}},
        {"cut, then a server that ignores ranges",
         {cutWhole(kBody, 40000), whole(kBody)},
         5,
         Outcome::Complete,
         kBody,
         {"", resume},
         {"Retrying (1 of 5) in 0 s"}},
        {"cut, then a 206 of a new version, then the new version",
         {cutWhole(kBody, 40000), partial(kNewBody, 40000, "\"v2\""), whole(kNewBody, "\"v2\"")},
         5,
         Outcome::Complete,
         kNewBody,
         {"", resume, resume},
         {"Retrying (1 of 5) in 0 s", "Retrying (2 of 5) in 1 s"}},
        {"cut, then a shorter new version",
         {cutWhole(kBody, 60000), whole(kNewBody.left(50000), "\"v2\"")},
         5,
         Outcome::Complete,
         kNewBody.left(50000),
         {"", "Range: bytes=60000-;If-Range: \"v1\";"},
         {"Retrying (1 of 5) in 0 s"}},
        {"a Content-Range that does not start at the end of the file",
         {cutWhole(kBody, 40000), partial(kBody, 30000), partial(kBody, 40000)},
         5,
         Outcome::Complete,
         kBody,
         {"", resume, resume},
         {"Retrying (1 of 5) in 0 s", "Retrying (2 of 5) in 1 s"}},
        {"an error page instead of the rest",
         {cutWhole(kBody, 40000),
          ScriptedServer::reply(head("200 OK", {"Content-Type: text/html"}) + "<html>gone</html>"),
          partial(kBody, 40000)},
         5,
         Outcome::Complete,
         kBody,
         {"", resume, resume},
         {"Retrying (1 of 5) in 0 s", "Retrying (2 of 5) in 1 s"}},
        {"503 with Retry-After, 503, then the file",
         {status("503 Busy", {"Retry-After: 2"}), status("503 Busy"), whole(kBody)},
         5,
         Outcome::Complete,
         kBody,
         {"", "", ""},
         {"Retrying (1 of 5) in 2 s", "Retrying (1 of 5) in 1 s", "Retrying (2 of 5) in 2 s",
          "Retrying (2 of 5) in 1 s"}},
        {"cut, then another version's 206 without an ETag",
         {cutWhole(kBody, 40000), anyRange(kNewBody, "")},
         5,
         Outcome::Complete,
         kNewBody,
         {"", resume, overlap, ""},
         {"Retrying (1 of 5) in 0 s", "Retrying (2 of 5) in 1 s", "Retrying (3 of 5) in 2 s",
          "Retrying (3 of 5) in 1 s"}},
        {"a weak ETag, then another version under the same weak ETag",
         {cutWhole(kBody, 40000, "W/\"v1\""), anyRange(kNewBody, "W/\"v1\"")},
         5,
         Outcome::Complete,
         kNewBody,
         {"", overlap, ""},
         {"Retrying (1 of 5) in 0 s", "Retrying (2 of 5) in 1 s"}},
        {"a busy server's html page, then the file",
         {ScriptedServer::reply(head("503 Service Unavailable", {"Content-Type: text/html"}) +
                                "<html>busy</html>"),
          whole(kBody)},
         5,
         Outcome::Complete,
         kBody,
         {"", ""},
         {"Retrying (1 of 5) in 1 s"}},
        {"a redirect whose html page is announced before its Location",
         {ScriptedServer::reply(
              head("302 Found", {"Content-Type: text/html", "Location: /real.mp3"}) +
              "<html>moved</html>"),
          whole(kBody)},
         5,
         Outcome::Complete,
         kBody,
         {"", ""},
         {}},
        {"a redirect without a Location is not the file",
         {ScriptedServer::reply(head("302 Found", {"Content-Type: audio/mpeg"}) + kBody)},
         5,
         Outcome::TooSmall,
         QByteArray(),
         {""},
         {}},
        {"a missing file's html page is a broken link at once",
         {ScriptedServer::reply(head("404 Not Found", {"Content-Type: text/html"}) + "<html>")},
         5,
         Outcome::Broken,
         QByteArray(),
         {""},
         {}},
        {"a connection closed without a word",
         {ScriptedServer::reply(""), whole(kBody)},
         5,
         Outcome::Complete,
         kBody,
         {"", ""},
         {"Retrying (1 of 5) in 1 s"}},
        {"no retries: a cut stays incomplete",
         {cutWhole(kBody, 40000)},
         0,
         Outcome::Incomplete,
         kBody.left(40000),
         {""},
         {}},
        {"no retries: a 503 saves nothing",
         {status("503 Busy")},
         0,
         Outcome::TooSmall,
         QByteArray(),
         {""},
         {}},
        {"a 404 after a cut is final",
         {cutWhole(kBody, 40000), status("404 Not Found")},
         5,
         Outcome::Incomplete,
         kBody.left(40000),
         {"", resume},
         {"Retrying (1 of 5) in 0 s"}},
        {"every try cut: the last one ends it",
         {cutWhole(kBody, 40000)},
         2,
         Outcome::Incomplete,
         kBody.left(40000),
         {"", resume, resume},
         {"Retrying (1 of 2) in 0 s", "Retrying (2 of 2) in 0 s"}},
    };
    for (const ServerRow& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server(row.scripts);
        RetryRun run(row.retryCount);
        run.start(server.url("/song.mp3"));
        run.finish();
        EXPECT_EQ(run.job->outcome(), row.outcome);
        EXPECT_EQ(run.waits, row.waits);
        EXPECT_EQ(QFile::exists(run.target), !row.file.isEmpty());
        EXPECT_TRUE(run.targetBytes() == row.file);
        QList<QByteArray> ranges;
        for (const QByteArray& request : server.requests())
            ranges << rangeLines(request);
        EXPECT_EQ(ranges, row.ranges);
        if (row.outcome == Outcome::Incomplete) {
            EXPECT_EQ(run.job->status(), "Download incomplete");
        }
    }
}

TEST(DownloadRetry, AStalledTransferIsGivenUpAndContinued) {
    ScriptedServer server(
        {[](ScriptedServer::Connection& c) {
             c.readRequest();
             c.send(head("200 OK", {"ETag: \"v1\"", "Content-Length: 100000"}) + kBody.left(50000));
             c.waitForPeerClose();
         },
         partial(kBody, 50000)});
    RetryRun run;
    run.start(server.url("/song.mp3"));
    ASSERT_TRUE(WaitFor([&] { return run.job->BytesReceived() == 50000; }));
    EXPECT_TRUE(run.timers.stall().active);
    EXPECT_EQ(run.timers.stall().interval, 7000);
    EXPECT_EQ(run.job->caption(), "50% song");
    run.timers.stall().fire();
    run.finish();
    EXPECT_EQ(run.job->outcome(), Outcome::Complete);
    EXPECT_EQ(run.waits, QStringList{"Retrying (1 of 5) in 0 s"});
    EXPECT_TRUE(run.targetBytes() == kBody);
    EXPECT_FALSE(run.timers.stall().active);
}

TEST(DownloadRetry, AHeaderThatTricklesInIsNoStall) {
    ScriptedServer server([](ScriptedServer::Connection& c) {
        c.readRequest();
        c.send("HTTP/1.0 200 OK\r\nContent-Le");
        c.waitUntilReleased();
        c.send("ngth: 100000");
        c.waitUntilReleased();
        c.send("\r\n\r\n" + kBody);
    });
    RetryRun run;
    run.start(server.url("/song.mp3"));
    THttpCli* client = run.job->client();
    ASSERT_TRUE(WaitFor([&] { return client->WireCount() == 27; }));
    server.release();
    ASSERT_TRUE(WaitFor([&] { return client->WireCount() == 39; }));
    run.timers.stall().fire(); // half a line came since the watch was armed
    EXPECT_TRUE(run.timers.stall().active);
    server.release();
    run.finish();
    EXPECT_EQ(run.job->outcome(), Outcome::Complete);
    EXPECT_EQ(run.waits, QStringList{});
    EXPECT_EQ(server.connections(), 1);
    EXPECT_TRUE(run.targetBytes() == kBody);
}

TEST(DownloadRetry, AHostThatNeverAnsweredIsTriedOnceMoreAtOnce) {
    const ClosedPort closed;
    RetryRun run;
    QStringList messages;
    QObject::connect(run.job.get(), &DownloadJob::message,
                     [&](const QString& text) { messages << text; });
    run.start("http://127.0.0.1:" + QByteArray::number(closed.port) + "/song.mp3");
    run.finish();
    EXPECT_EQ(run.waits, QStringList{"Retrying (1 of 5) in 0 s"});
    EXPECT_EQ(run.job->outcome(), Outcome::TooSmall);
    EXPECT_EQ(messages, QStringList{DownloadJob::kTooSmallMessage});
    EXPECT_FALSE(QFile::exists(run.target));
}

TEST(DownloadRetry, AHostThatAnsweredOnceKeepsItsWaitsWhenItGoesAway) {
    auto server = std::make_unique<ScriptedServer>(status("503 Busy"));
    RetryRun run(2);
    run.start(server->url("/song.mp3"));
    ASSERT_TRUE(WaitFor([&] { return run.job->Waiting(); }));
    server.reset(); // from now on the connection is refused
    run.finish();
    EXPECT_EQ(run.waits, (QStringList{"Retrying (1 of 2) in 1 s", "Retrying (2 of 2) in 2 s",
                                      "Retrying (2 of 2) in 1 s"}));
    EXPECT_EQ(run.job->outcome(), Outcome::TooSmall);
}

TEST(DownloadRetry, CancelDuringTheWaitStopsAtOnce) {
    ScriptedServer server(status("503 Busy"));
    RetryRun run;
    run.start(server.url("/song.mp3"));
    ASSERT_TRUE(WaitFor([&] { return run.job->Waiting(); }));
    EXPECT_EQ(run.job->status(), "Retrying (1 of 5) in 1 s");
    EXPECT_EQ(run.timers.wait().interval, 1000);
    run.job->UserStop();
    EXPECT_FALSE(run.job->Waiting());
    EXPECT_TRUE(run.job->Finished());
    EXPECT_EQ(run.job->outcome(), Outcome::Stopped);
    EXPECT_EQ(server.connections(), 1);
}

TEST(DownloadRetry, TenJobsRetryWithoutDisturbingEachOther) {
    TempHome home;
    SettingsFile ini(home.file(QStringLiteral("Pellmar.ini")));
    FakeJobTimers timers;
    std::vector<std::unique_ptr<ScriptedServer>> servers;
    std::vector<std::unique_ptr<DownloadJob>> jobs;
    QList<QByteArray> bodies;
    for (int i = 0; i < 10; ++i) {
        bodies << PatternBytes(60000 + 1000 * i, 10 + i);
        servers.push_back(std::make_unique<ScriptedServer>(
            QList<Script>{cutWhole(bodies[i], 5000 * (i + 1)), status("503 Busy"),
                          partial(bodies[i], 5000 * (i + 1))}));
        jobs.push_back(std::make_unique<DownloadJob>(ini));
        jobs.back()->SetTimerFactory(timers.factory());
        jobs.back()->StartTransfer(home.file(QStringLiteral("song%1.mp3").arg(i)),
                                   servers.back()->url("/song.mp3"));
    }
    ASSERT_TRUE(WaitFor([&] {
        bool allDone = true;
        for (int i = 0; i < 10; ++i) {
            if (timers.wait(i).active)
                timers.wait(i).fire();
            allDone = allDone && jobs[i]->outcome() != Outcome::Pending;
        }
        return allDone;
    }));
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(jobs[i]->outcome(), Outcome::Complete);
        EXPECT_EQ(jobs[i]->RetriesDone(), 2);
        EXPECT_TRUE(home.read(QStringLiteral("song%1.mp3").arg(i)) == bodies[i]);
    }
}

struct ResumeRow {
    const char* name;
    QByteArray onDisk;
    QList<Script> scripts;
    int retryCount;
    Outcome outcome;
    QByteArray file;
    QList<QByteArray> ranges;
};

TEST(DownloadRetry, AFileOnDiskIsContinuedOnlyWhenItsLastBytesMatch) {
    const qint64 overlapFrom = 50000 - DownloadJob::kOverlapBytes;
    const QByteArray asked = "Range: bytes=" + QByteArray::number(overlapFrom) + "-;";
    const ResumeRow rows[] = {
        {"same version",
         kBody.left(50000),
         {partial(kBody, overlapFrom)},
         5,
         Outcome::Complete,
         kBody,
         {asked}},
        {"changed version: fetched whole",
         kBody.left(50000),
         {partial(kNewBody, overlapFrom), whole(kNewBody)},
         5,
         Outcome::Complete,
         kNewBody,
         {asked, ""}},
        {"a small file of the user stays when nothing comes",
         kBody.left(1000),
         {status("404 Not Found")},
         0,
         Outcome::Incomplete,
         kBody.left(1000),
         {""}},
    };
    for (const ResumeRow& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server(row.scripts);
        RetryRun run(row.retryCount);
        run.home.write(QStringLiteral("song.mp3"), row.onDisk);
        run.start(server.url("/song.mp3"), DownloadJob::TargetMode::Resume);
        run.finish();
        EXPECT_EQ(run.job->outcome(), row.outcome);
        EXPECT_TRUE(run.targetBytes() == row.file);
        QList<QByteArray> ranges;
        for (const QByteArray& request : server.requests())
            ranges << rangeLines(request);
        EXPECT_EQ(ranges, row.ranges);
    }
}

TEST(DownloadRetry, RepliesAreJudgedAgainstWhatWasAskedFor) {
    using RangeReply::Use;
    const QByteArray date = "Tue, 01 Dec 2026 10:00:00 GMT";
    struct Row {
        qint64 from;
        qint64 total;
        int status;
        QList<QByteArray> lines;
        Use use;
        QByteArray ifRange = QByteArray();
    };
    const Row rows[] = {
        {100,
         1000,
         206,
         {"Content-Range: bytes 100-999/1000", "ETag: \"v1\""},
         Use::Append,
         "\"v1\""},
        {100, 1000, 206, {"Content-Range: bytes 100-999/1000"}, Use::Untied, "\"v1\""},
        {100,
         1000,
         206,
         {"Content-Range: bytes 100-999/1000", "Last-Modified: " + date},
         Use::Untied,
         "\"v1\""},
        {100,
         1000,
         206,
         {"Content-Range: bytes 100-999/1000", "Last-Modified: " + date},
         Use::Append,
         date},
        {100, 1000, 206, {"Content-Range: bytes 100-999/1000"}, Use::Untied, date},
        {0, -1, 200, {}, Use::Whole},
        {0, -1, 404, {}, Use::Reject},
        {100, 1000, 200, {}, Use::Whole},
        {100, 1000, 206, {"Content-Range: bytes 100-999/1000"}, Use::Append},
        {100, -1, 206, {"Content-Range: bytes 100-4999/5000"}, Use::Append},
        {100, 1000, 206, {"Content-Range: bytes 100-999/2000"}, Use::Reject},
        {100, 1000, 206, {"Content-Range: bytes 99-999/1000"}, Use::Reject},
        {100, 1000, 206, {"Content-Range: bytes 100-500/1000"}, Use::Reject},
        {100, 1000, 206, {"Content-Range: bytes */1000"}, Use::Reject},
        {100, 1000, 206, {}, Use::Reject},
        {100, 1000, 206, {"Content-Range: bytes 100-999/1000", "ETag: \"v2\""}, Use::Reject},
        {100, 1000, 206, {"Content-Range: bytes 100-999/1000", "ETag: \"v1\""}, Use::Append},
        {100, 1000, 416, {"Content-Range: bytes */1000"}, Use::Reject},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.lines.value(0).constData());
        EXPECT_EQ(
            RangeReply::judge({row.from, row.total, "\"v1\"", row.ifRange}, row.status, row.lines),
            row.use);
    }
    EXPECT_EQ(RangeReply::requestHeaders(0, "\"a\""), QList<QByteArray>());
    EXPECT_EQ(RangeReply::requestHeaders(5, date),
              (QList<QByteArray>{"Range: bytes=5-", "If-Range: " + date}));
    EXPECT_EQ(RangeReply::ifRangeValidator("W/\"a\"", date), date);
    EXPECT_EQ(RangeReply::ifRangeValidator("W/\"a\"", ""), "");
    EXPECT_EQ(RangeReply::ifRangeValidator("\"a\"", date), "\"a\"");
}

TEST(DownloadRetry, WaitsDoubleUpToAMinuteOrFollowRetryAfter) {
    const int waits[] = {1, 2, 4, 8, 16, 32, 60, 60};
    for (int fruitless = 1; fruitless <= 8; ++fruitless)
        EXPECT_EQ(RetryPolicy::waitSeconds(fruitless, std::nullopt), waits[fruitless - 1]);
    const std::pair<QByteArray, std::optional<int>> afters[] = {
        {"Retry-After: 7", 7},
        {"retry-after:  0 ", 0},
        {"Retry-After: 3600", 60},
        {"Retry-After: 99999999999999", 60},
        {"Retry-After: Fri, 31 Dec 2026 23:59:59 GMT", std::nullopt},
        {"Retry-After: -5", std::nullopt},
    };
    for (const auto& [line, seconds] : afters) {
        SCOPED_TRACE(line.constData());
        const std::optional<int> found = RetryPolicy::retryAfterSeconds({"Server: x", line});
        EXPECT_EQ(found, seconds);
        if (found) {
            EXPECT_EQ(RetryPolicy::waitSeconds(3, found), std::min(*found, 60));
        }
    }
}
