// Servers that misbehave must never crash the client or keep a request open beyond the
// caller's Abort; every request ends with exactly one OnRequestDone.
#include "net/HttpCli.h"
#include "net/HttpClientLog.h"
#include "support/EventLoopWait.h"
#include "support/ScriptedServer.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>

namespace {

void FetchToEnd(THttpCli& client, HttpClientLog& log, const QByteArray& url) {
    client.SetURL(url);
    client.GetAsync();
    ASSERT_TRUE(WaitFor([&] { return log.requestsDone == 1; }));
    DrainEvents(50);
    EXPECT_EQ(log.requestsDone, 1);
}

} // namespace

TEST(HttpCliHostile, HeaderLineWithoutLineFeedIsRefusedAndTheCloseStillEndsIt) {
    for (int size : {8191, 8192, 8193, 100000}) {
        ScriptedServer server(ScriptedServer::reply(QByteArray(size, 'A')));
        THttpCli client;
        HttpClientLog log;
        log.Attach(client);
        FetchToEnd(client, log, server.url("/"));
        EXPECT_EQ(client.StatusCode(), 0) << size;
        EXPECT_EQ(log.doneErrors, QList<int>{0});
        EXPECT_TRUE(log.events.filter("HeaderData").isEmpty());
    }
}

TEST(HttpCliHostile, EndlessLineWithoutCloseEndsAtAbort) {
    std::atomic<qint64> sent{0};
    ScriptedServer server([&](ScriptedServer::Connection& c) {
        c.readRequest();
        const QByteArray block(65536, 'B');
        while (c.send(block))
            sent += block.size();
    });
    THttpCli client;
    HttpClientLog log;
    log.Attach(client);
    client.SetURL(server.url("/"));
    client.GetAsync();
    ASSERT_TRUE(WaitFor([&] { return sent > 4 * 1024 * 1024; }));
    client.Abort();
    ASSERT_TRUE(WaitFor([&] { return log.requestsDone == 1; }));
    EXPECT_EQ(log.doneErrors, QList<int>{3});
}

TEST(HttpCliHostile, ServerThatNeverAnswersEndsAtAbort) {
    ScriptedServer server([](ScriptedServer::Connection& c) {
        c.readRequest();
        c.waitUntilReleased();
    });
    THttpCli client;
    HttpClientLog log;
    log.Attach(client);
    client.SetURL(server.url("/"));
    client.GetAsync();
    ASSERT_TRUE(WaitFor([&] { return server.requests().size() == 1; }));
    DrainEvents(100);
    EXPECT_EQ(log.requestsDone, 0);
    EXPECT_EQ(client.State(), hsWaitingHeader);
    client.Abort();
    ASSERT_TRUE(WaitFor([&] { return log.requestsDone == 1; }));
    EXPECT_EQ(log.doneErrors, QList<int>{3});
    EXPECT_EQ(client.StatusCode(), 404);
    server.release();
}

TEST(HttpCliHostile, ResetMidBodyEndsTheDocument) {
    ScriptedServer server([](ScriptedServer::Connection& c) {
        c.readRequest();
        c.send("HTTP/1.0 200 OK\r\nContent-Length: 1000000\r\n\r\n" + QByteArray(30000, 'x'));
        c.reset();
    });
    THttpCli client;
    HttpClientLog log;
    log.Attach(client);
    FetchToEnd(client, log, server.url("/"));
    EXPECT_EQ(client.StatusCode(), 200);
    EXPECT_LE(client.ReceivedCount(), 30000);
    EXPECT_EQ(log.doneErrors, QList<int>{0});
    if (client.ReceivedCount() > 0) {
        EXPECT_EQ(log.Count("DocEnd"), 1);
    }
}

TEST(HttpCliHostile, BinaryGarbageIsSurvived) {
    for (int round = 0; round < 20; ++round) {
        QByteArray garbage(int(QRandomGenerator::global()->bounded(1, 40000)), '\0');
        for (char& byte : garbage)
            byte = char(QRandomGenerator::global()->bounded(256));
        ScriptedServer server(ScriptedServer::reply(garbage));
        THttpCli client;
        HttpClientLog log;
        log.Attach(client);
        QBuffer stream;
        stream.open(QIODevice::WriteOnly);
        client.SetReceiveStream(&stream);
        FetchToEnd(client, log, server.url("/"));
    }
}

TEST(HttpCliHostile, StatusThatIsNoNumberStopsTheParseButNotTheRequest) {
    ScriptedServer server(
        ScriptedServer::reply("HTTP/1.0 abc\r\nContent-Type: text/html\r\n\r\nbody"));
    THttpCli client;
    HttpClientLog log;
    log.Attach(client);
    FetchToEnd(client, log, server.url("/"));
    EXPECT_EQ(client.StatusCode(), 0);
    EXPECT_EQ(log.doneErrors, QList<int>{0});
    EXPECT_TRUE(log.body.isEmpty());
}

TEST(HttpCliHostile, ContentLengthOfLettersOrTwentyDigitsIsSurvived) {
    for (const QByteArray& length : {QByteArray("abc"), QByteArray("12345678901234567890")}) {
        ScriptedServer server(
            ScriptedServer::reply("HTTP/1.0 200 OK\r\nContent-Length: " + length + "\r\n\r\nx"));
        THttpCli client;
        HttpClientLog log;
        log.Attach(client);
        FetchToEnd(client, log, server.url("/"));
        EXPECT_EQ(client.StatusCode(), 200);
        EXPECT_EQ(client.ContentLength(), 0);
    }
}

TEST(HttpCliHostile, LargeContentLengthIsKeptWhole) {
    ScriptedServer server(
        ScriptedServer::reply("HTTP/1.0 200 OK\r\nContent-Length: 5000000000\r\n\r\nx"));
    THttpCli client;
    HttpClientLog log;
    log.Attach(client);
    FetchToEnd(client, log, server.url("/"));
    EXPECT_EQ(client.ContentLength(), 5000000000LL);
    EXPECT_EQ(log.body, "x");
}

TEST(HttpCliHostile, ReplySplitAtEveryByteGivesTheSameResult) {
    const QByteArray reply = "HTTP/1.1 206 Partial\r\nContent-Type: Audio/MPEG\r\n"
                             "Content-Length: 7\r\nX-Odd:\r\n\r\nab\r\ncd\n";
    for (int cut = 1; cut < reply.size(); ++cut) {
        ScriptedServer server([&](ScriptedServer::Connection& c) {
            c.readRequest();
            c.send(reply.left(cut));
            QThread::msleep(2);
            c.send(reply.mid(cut));
        });
        THttpCli client;
        HttpClientLog log;
        log.Attach(client);
        FetchToEnd(client, log, server.url("/"));
        EXPECT_EQ(client.StatusCode(), 206) << cut;
        EXPECT_EQ(client.ReasonPhrase(), "Partial") << cut;
        EXPECT_EQ(client.ContentType(), "audio/mpeg") << cut;
        EXPECT_EQ(client.ContentLength(), 7) << cut;
        EXPECT_EQ(log.body, "ab\r\ncd\n") << cut;
        EXPECT_EQ(client.HeaderLines().size(), 4) << cut;
    }
}
