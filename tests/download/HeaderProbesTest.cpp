#include "download/HeaderProbes.h"
#include "download/ProbeQueue.h"
#include "net/WSocket.h"
#include "platform/SettingsFile.h"
#include "support/EventLoopWait.h"
#include "support/ScriptedServer.h"
#include "support/Settle.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

// A whole first frame: the probe reads that much before it acts.
QByteArray frameOf(const char* header, int length, const QByteArray& info = {}) {
    QByteArray frame = QByteArray(header, 4) + QByteArray(32, '\0') + info;
    frame.resize(length, '\0');
    return frame;
}

const QByteArray kJointStereo = frameOf("\xFF\xFB\x90\x64", 417);
const QByteArray kMono = frameOf("\xFF\xF3\x84\xC4", 192); // MPEG-2 Layer 3, 64 kbit/s, 24000 Hz
// A LAME VBR file's information frame: 384 frames and 198535 bytes, 158 kbit/s on average.
const QByteArray kVbr =
    frameOf("\xFF\xFB\x90\x64", 417, QByteArray("Xing\0\0\0\x03\0\0\x01\x80\0\x03\x07\x87", 16));

QByteArray id3Tag(int size) {
    return QByteArray("ID3\x04\x00\x00\x00\x00", 8) + char(size >> 7) + char(size & 0x7F) +
           QByteArray(size, 't');
}

// A probe set over a fresh program folder that records what its hooks see.
struct ProbeRun {
    TempHome home;
    SettingsFile ini{home.file(QStringLiteral("Pellmar.ini"))};
    QList<int> draws{4242};
    QList<QByteArray> listed;
    QList<QByteArray> records;
    QStringList errors;
    int ended = 0;
    HeaderProbes probes{ini, home.path(), hooks(), [this](int range) {
                            EXPECT_EQ(range, 100000);
                            return draws.size() > 1 ? draws.takeFirst() : draws.first();
                        }};

    HeaderProbes::Hooks hooks() {
        HeaderProbes::Hooks h;
        h.isListed = [this](const QByteArray& name) { return listed.contains(name); };
        h.accepted = [this](const ProbedHit& hit) { records.append(hit.record()); };
        h.lastProbeEnded = [this] { ++ended; };
        h.error = [this](const QString& message) {
            errors.append(message);
            DeliverPending(); // an error box runs a nested event loop
        };
        return h;
    }
    qint64 tempSize(int tag = 4242) const {
        return QFileInfo(home.file(QStringLiteral("temp/%1.tmp").arg(tag))).size();
    }
    bool tempExists(int tag = 4242) const {
        return QFileInfo::exists(home.file(QStringLiteral("temp/%1.tmp").arg(tag)));
    }
};

// Sends the header with the first part, then each further part once the test releases it.
ScriptedServer::Script inParts(const QByteArray& header, const QList<QByteArray>& parts) {
    return [header, parts](ScriptedServer::Connection& connection) {
        connection.readRequest();
        connection.send("HTTP/1.0 200 OK\r\n" + header + "\r\n" + parts.first());
        for (qsizetype i = 1; i < parts.size(); ++i) {
            connection.waitUntilReleased();
            if (!connection.send(parts.at(i)))
                return;
        }
    };
}

// Releases each part once the one before it is stored (or the probe has ended).
void feedParts(ProbeRun& run, ScriptedServer& server, const QList<QByteArray>& parts) {
    qint64 stored = 0;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        stored += parts.at(i).size();
        ASSERT_TRUE(WaitFor([&] { return run.tempSize() == stored || run.ended > 0; }));
        server.release();
    }
    ASSERT_TRUE(WaitFor([&] { return run.ended > 0; }));
}

} // namespace

TEST(HeaderProbes, KeepsAValidLinkAndEndsTheLastProbe) {
    ProbeRun run;
    run.draws = {7, 4242};
    run.home.write(QStringLiteral("temp/7.tmp"), "taken");
    const QList<QByteArray> parts = {kJointStereo + "first", "second chunk", "never stored"};
    ScriptedServer server(inParts("Content-Length: 30001\r\n", parts));
    const QByteArray url = server.url("/song.mp3");

    run.probes.StartHeaderProbe(url, "My Song");
    EXPECT_EQ(run.probes.PendingProbeList(), QList<QByteArray>{url + "|=@My Song"});
    EXPECT_EQ(run.probes.ProbeSizeList(), QList<QByteArray>{"0"});
    ASSERT_TRUE(WaitFor([&] { return run.tempSize() == parts.first().size(); }));
    EXPECT_EQ(run.probes.ProbeSizeList(), QList<QByteArray>{"30001"});
    server.release();
    ASSERT_TRUE(WaitFor([&] { return run.ended == 1; }));

    EXPECT_EQ(run.records, QList<QByteArray>{"My Song\t" + url + "\t30001\t128\t44100\tStereo"});
    EXPECT_TRUE(run.probes.PendingProbeList().isEmpty());
    EXPECT_TRUE(run.probes.ProbeSizeList().isEmpty());
    EXPECT_EQ(run.home.read(QStringLiteral("temp/4242.tmp")), parts.first());
    EXPECT_EQ(run.home.read(QStringLiteral("temp/7.tmp")), "taken");
    EXPECT_TRUE(server.requests().value(0).startsWith("GET /song.mp3 HTTP/1.0\r\n"));
    EXPECT_TRUE(run.errors.isEmpty());
}

TEST(HeaderProbes, AcceptsOrDropsByHeaderSizeNameAndTag) {
    const QByteArray size = "Content-Length: 40000\r\n";
    const QByteArray tag = id3Tag(200);
    const struct {
        const char* what;
        QByteArray header;
        QList<QByteArray> parts;
        const char* skipId3Tags; // "" leaves the default
        bool listed;
        QByteArray record; // the fields after name and URL; empty: dropped
        bool tempKept;
        const char* error = "";
    } rows[] = {
        {"size 30000 dropped",
         "Content-Length: 30000\r\n",
         {kJointStereo, "x"},
         "",
         false,
         "",
         true},
        {"size 30001 kept",
         "Content-Length: 30001\r\n",
         {kJointStereo, "x"},
         "",
         false,
         "30001\t128\t44100\tStereo",
         true},
        {"size over 2 GiB kept",
         "Content-Length: 3000000000\r\n",
         {kJointStereo, "x"},
         "",
         false,
         "3000000000\t128\t44100\tStereo",
         true},
        {"no Content-Length", "", {kJointStereo, "x"}, "", false, "", true},
        {"lower-case header name",
         "content-length: 40000\r\n",
         {kMono, "x"},
         "",
         false,
         "40000\t64\t24000\tMono",
         true},
        {"name already listed", size, {kJointStereo, "x"}, "", true, "", true},
        {"no frame header", size, {"<html>", "x"}, "", false, "", false},
        {"one byte at a time",
         size,
         {"\xFF", "\xFB", "\x90", kJointStereo.mid(3), "x"},
         "",
         false,
         "40000\t128\t44100\tStereo",
         true},
        {"ID3v2 tag, skipping on",
         size,
         {tag + kMono.left(2), kMono.mid(2), "x"},
         "1",
         false,
         "40000\t64\t24000\tMono",
         true},
        {"ID3v2 tag, skipping off",
         size,
         {tag + kMono.left(2), kMono.mid(2), "x"},
         "0",
         false,
         "",
         false},
        {"ID3v2 tag header in pieces",
         size,
         {"ID3\x04", tag.mid(4), kMono, "x"},
         "",
         false,
         "40000\t64\t24000\tMono",
         true},
        {"VBR judged by its average",
         size,
         {kVbr, "x"},
         "",
         false,
         "40000\t158\t44100\tStereo\tVBR",
         true},
        {"first frame not whole",
         size,
         {kJointStereo.left(200), kJointStereo.mid(200, 216), "x"},
         "",
         false,
         "",
         true},
        {"size not a number",
         "X-Content-Length: many\r\n",
         {kJointStereo, "x"},
         "",
         false,
         "",
         true,
         "'many' is not a valid integer value"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ProbeRun run;
        if (*row.skipId3Tags)
            run.ini.writeString("Options", "SkipId3Tags", QString::fromLatin1(row.skipId3Tags));
        if (row.listed)
            run.listed.append("Name");
        ScriptedServer server(inParts(row.header, row.parts));
        run.probes.StartHeaderProbe(server.url("/a.mp3"), "Name");
        feedParts(run, server, row.parts);
        if (*row.error) {
            ASSERT_TRUE(WaitFor([&] { return !run.errors.isEmpty(); }));
        }

        QList<QByteArray> expected;
        if (!row.record.isEmpty())
            expected.append("Name\t" + server.url("/a.mp3") + "\t" + row.record);
        EXPECT_EQ(run.records, expected);
        EXPECT_EQ(run.tempExists(), row.tempKept);
        EXPECT_EQ(run.errors.join(QLatin1Char('|')), QString::fromLatin1(row.error));
        EXPECT_EQ(run.ended, 1);
        EXPECT_TRUE(run.probes.PendingProbeList().isEmpty());
    }
}

TEST(HeaderProbes, ProbesThatNeverDecodeStillEnd) {
    ProbeRun run;
    ScriptedServer oneEvent(ScriptedServer::reply(
        "HTTP/1.0 200 OK\r\nContent-Length: 40000\r\n\r\n" + kJointStereo + QByteArray(2000, 'x')));
    ClosedPort closed;
    const QByteArray refused = "http://127.0.0.1:" + QByteArray::number(closed.port) + "/b.mp3";
    run.probes.StartHeaderProbe(oneEvent.url("/a.mp3"), "Whole Body At Once");
    run.probes.StartHeaderProbe(refused, "Refused");
    run.probes.StartHeaderProbe("http:///no-host.mp3", "No Host");
    EXPECT_EQ(run.probes.PendingProbeList().size(), 3);
    ASSERT_TRUE(WaitFor([&] { return run.ended == 1; }));
    ASSERT_TRUE(Settle(oneEvent));
    EXPECT_EQ(run.ended, 1);
    EXPECT_TRUE(run.records.isEmpty());
    EXPECT_TRUE(run.probes.ProbeSizeList().isEmpty());
}

TEST(HeaderProbes, WithoutATempFileTheProbeEndsFromTheEventLoop) {
    ProbeRun run;
    QDir(run.home.path()).rmdir(QStringLiteral("temp"));
    run.home.write(QStringLiteral("temp"), "a file where the folder should be");
    run.probes.StartHeaderProbe("http://127.0.0.1:9/a.mp3", "A");
    EXPECT_EQ(run.ended, 0);
    EXPECT_EQ(run.probes.PendingProbeList().size(), 1);
    ASSERT_TRUE(WaitFor([&] { return run.ended == 1; }));
    EXPECT_TRUE(run.probes.PendingProbeList().isEmpty());
}

// An abort empties temp/ while probes still write there: they end without a word, and a
// probe of the next run with the same link keeps its own entry.
TEST(HeaderProbes, ProbesOfAnAbortedRunEndQuietly) {
    ProbeRun run;
    run.draws = {1, 2};
    const QList<QByteArray> parts = {kJointStereo, "x"};
    ScriptedServer server(inParts("Content-Length: 40000\r\n", parts));
    const QByteArray url = server.url("/a.mp3");
    run.probes.StartHeaderProbe(url, "A");
    ASSERT_TRUE(WaitFor([&] { return run.tempSize(1) == kJointStereo.size(); }));
    run.probes.ClearPending();
    QFile::remove(run.home.file(QStringLiteral("temp/1.tmp")));
    EXPECT_TRUE(run.probes.ProbeSizeList().isEmpty());
    run.probes.StartHeaderProbe(url, "A");
    server.release();
    ASSERT_TRUE(WaitFor([&] { return run.tempSize(2) == kJointStereo.size(); }));
    EXPECT_EQ(run.probes.runningProbes(), 1);
    EXPECT_EQ(run.probes.PendingProbeList(), QList<QByteArray>{url + "|=@A"});
    server.release();
    ASSERT_TRUE(WaitFor([&] { return run.ended == 1; }));
    EXPECT_EQ(run.records, QList<QByteArray>{"A\t" + url + "\t40000\t128\t44100\tStereo"});
    EXPECT_TRUE(run.errors.isEmpty());
    EXPECT_FALSE(run.tempExists(1));
}

// Its file deleted under it (the folder emptied by another hand), a probe has nothing to
// read: that is a failed read, not an error box.
TEST(HeaderProbes, AProbeWhoseFileIsGoneFailsQuietly) {
    ProbeRun run;
    const QList<QByteArray> parts = {kJointStereo, "x"};
    ScriptedServer server(inParts("Content-Length: 40000\r\n", parts));
    run.probes.StartHeaderProbe(server.url("/a.mp3"), "A");
    ASSERT_TRUE(WaitFor([&] { return run.tempSize() == kJointStereo.size(); }));
    QFile::remove(run.home.file(QStringLiteral("temp/4242.tmp")));
    server.release();
    ASSERT_TRUE(WaitFor([&] { return run.ended == 1; }));
    ASSERT_TRUE(Settle(server));
    EXPECT_TRUE(run.errors.isEmpty());
    EXPECT_TRUE(run.records.isEmpty());
    EXPECT_TRUE(run.probes.PendingProbeList().isEmpty());
}

TEST(HeaderProbes, HundredsOfProbesWithFewDescriptorsReachTheEnd) {
    ProbeRun run;
    int next = 0;
    std::vector<std::unique_ptr<ScriptedServer>> servers; // ten hosts, all probes start at once
    servers.reserve(10);
    for (int i = 0; i < 10; ++i)
        servers.push_back(std::make_unique<ScriptedServer>(ScriptedServer::reply(
            "HTTP/1.0 200 OK\r\nContent-Length: 40000\r\n\r\n" + kJointStereo)));
    HeaderProbes probes(run.ini, run.home.path(), run.hooks(), [&next](int) { return next++; });
    try { // lets the sanitizers' runtime see the socket's exception while descriptors are free
        TWSocket socket;
        socket.Connect();
    } catch (const PellmarError&) {
    }
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    const int lowestFree = ::dup(0);
    ::close(lowestFree);
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(lowestFree) + 20;
    setrlimit(RLIMIT_NOFILE, &tight);
    for (int i = 0; i < 300; ++i)
        probes.StartHeaderProbe(servers[i % 10]->url("/" + QByteArray::number(i) + ".mp3"),
                                "Song " + QByteArray::number(i));
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(probes.PendingProbeList().size(), 300);
    ASSERT_TRUE(WaitFor([&] { return run.ended == 1; }, 60000));
    EXPECT_TRUE(probes.PendingProbeList().isEmpty());
    int connections = 0;
    for (const auto& server : servers)
        connections += server->connections();
    EXPECT_GT(connections, 0);
    EXPECT_LT(connections, 300); // the others got no descriptor and ended at once
}

// A page of links to closed ports ahead of the good ones: no more probes run at once than
// the overall limit, and the good link, whose host waits its turn, is still found.
TEST(HeaderProbes, RunsAtMostTheOverallLimitAndTheGoodLinkIsFound) {
    ProbeRun run;
    int next = 0;
    HeaderProbes probes(run.ini, run.home.path(), run.hooks(), [&next](int) { return next++; });
    std::vector<std::unique_ptr<ClosedPort>> closed;
    closed.reserve(12);
    for (int port = 0; port < 12; ++port)
        closed.push_back(std::make_unique<ClosedPort>());
    for (int i = 0; i < 360; ++i)
        probes.StartHeaderProbe("http://127.0.0.1:" + QByteArray::number(closed[i % 12]->port) +
                                    "/" + QByteArray::number(i) + ".mp3",
                                "Song " + QByteArray::number(i));
    const QList<QByteArray> parts = {kJointStereo, "x"};
    ScriptedServer good(inParts("Content-Length: 40000\r\n", parts));
    probes.StartHeaderProbe(good.url("/good.mp3"), "Good");
    EXPECT_EQ(probes.runningProbes(), HeaderProbes::kMaxRunning);
    EXPECT_EQ(probes.PendingProbeList().size(), 361);

    const auto goodStored = [&] {
        const QFileInfoList files =
            QDir(run.home.file(QStringLiteral("temp"))).entryInfoList(QDir::Files);
        return std::any_of(files.begin(), files.end(), [](const QFileInfo& file) {
            return file.size() == kJointStereo.size();
        });
    };
    int mostRunning = 0;
    ASSERT_TRUE(WaitFor([&] {
        mostRunning = std::max(mostRunning, probes.runningProbes());
        return goodStored();
    }));
    good.release();
    ASSERT_TRUE(WaitFor([&] { return run.ended == 1; }));
    EXPECT_LE(mostRunning, HeaderProbes::kMaxRunning);
    EXPECT_EQ(probes.runningProbes(), 0);
    EXPECT_EQ(run.records,
              QList<QByteArray>{"Good\t" + good.url("/good.mp3") + "\t40000\t128\t44100\tStereo"});
}

TEST(HeaderProbes, RunsAtMost32ProbesPerHostAndTheRestInTurn) {
    const QByteArray reply = "HTTP/1.0 200 OK\r\n\r\n";
    for (const bool abort : {false, true}) {
        SCOPED_TRACE(abort ? "aborted" : "to the end");
        ProbeRun run;
        run.draws.clear();
        for (int tag = 0; tag < 100; ++tag)
            run.draws.append(tag);
        auto started = [&run] {
            return QDir(run.home.file(QStringLiteral("temp"))).entryList(QDir::Files).size();
        };
        ScriptedServer busy(ScriptedServer::reply(reply));
        ScriptedServer other(ScriptedServer::reply(reply));
        for (int i = 0; i < 40; ++i)
            run.probes.StartHeaderProbe(busy.url("/" + QByteArray::number(i)), "Song");
        EXPECT_EQ(started(), HeaderProbes::kMaxPerHost);
        run.probes.StartHeaderProbe(other.url("/a.mp3"), "Other");
        EXPECT_EQ(started(), HeaderProbes::kMaxPerHost + 1);
        if (abort) { // the running probes stop, the waiting ones never start
            run.probes.ClearPending();
            ASSERT_TRUE(WaitFor([&] { return run.probes.runningProbes() == 0; }));
            EXPECT_EQ(started(), 0);
            EXPECT_LE(busy.connections(), HeaderProbes::kMaxPerHost);
            EXPECT_EQ(run.ended, 0);
        } else {
            ASSERT_TRUE(WaitFor([&] { return run.ended == 1; }));
            EXPECT_EQ(started(), 41);
            EXPECT_EQ(busy.connections(), 40);
        }
    }
}

// Each row is a series of steps: "a1" adds link 1 of host a, "-a" ends a running probe of
// host a, "!" drops the waiting links. The result lists the links in the order they start.
TEST(ProbeQueue, StartsLinksWithinTheLimitsAndGivesHostsTurns) {
    const struct {
        const char* what;
        int maxRunning, maxPerHost;
        const char* steps;
        const char* started;
    } rows[] = {
        {"a host's links start in order as its own end", 10, 2, "a1 a2 a3 a4 b1 -a -a",
         "a1 a2 b1 a3 a4"},
        {"freed places go to the waiting hosts in turn", 3, 3,
         "a1 a2 a3 a4 a5 b1 b2 c1 -a -a -a -a", "a1 a2 a3 a4 b1 c1 a5"},
        {"a host at its own limit keeps its turn", 4, 2, "a1 a2 a3 b1 b2 b3 c1 -b -a -b",
         "a1 a2 b1 b2 b3 a3 c1"},
        {"dropped links never start", 1, 1, "a1 a2 b1 ! -a", "a1"},
    };
    for (const auto& row : rows) {
        ProbeQueue queue(row.maxRunning, row.maxPerHost);
        QList<QByteArray> started;
        for (const QByteArray& step : QByteArray(row.steps).split(' ')) {
            if (step == "!") {
                queue.clearWaiting();
            } else if (step.startsWith('-')) {
                for (const ProbeQueue::Link& link : queue.finished(step.mid(1)))
                    started.append(link.host + link.url);
            } else if (queue.add({step.left(1), step.mid(1)})) {
                started.append(step);
            }
        }
        EXPECT_EQ(started.join(' '), row.started) << row.what;
    }
}
