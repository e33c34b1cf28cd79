// Servers that misbehave must never crash the client or keep a request open beyond the
// caller's Abort; every request ends with exactly one OnRequestDone.
#include "net/HttpCli.h"
#include "net/HttpClientLog.h"
#include "net/HttpReply.h"
#include "support/EventLoopWait.h"
#include "support/ScriptedServer.h"
#include "support/Settle.h"
#include "support/TestSeed.h"

#include <QBuffer>
#include <QFile>
#include <QRandomGenerator>
#include <atomic>
#include <gtest/gtest.h>

namespace {

void FetchToEnd(THttpCli& client, HttpClientLog& log, const ScriptedServer& server) {
    client.SetURL(server.url("/"));
    client.GetAsync();
    ASSERT_TRUE(WaitFor([&] { return log.requestsDone == 1; }));
    ASSERT_TRUE(Settle(server));
    EXPECT_EQ(log.requestsDone, 1);
}

} // namespace

// A reply that breaks inside its header is a failed request, never an empty document.
TEST(HttpCliHostile, ReplyBrokenInsideItsHeaderFailsWithItsReason) {
    const int cut = THttpCli::kErrorHeaderCut;
    const int bad = THttpCli::kErrorBadReply;
    const QByteArray cutReason = "connection closed before the end of the reply header";
    const QByteArray tooLong = "reply header line too long (more than 8192 bytes)";
    const QByteArray badStatus = "bad status line (not HTTP/x.y NNN)";
    struct Row {
        QByteArray reply;
        int error;
        int status;
        QByteArray reason;
    };
    const Row rows[] = {
        {"", cut, 0, "connection closed without a reply"},
        {"HTTP/1.0 200 OK\r\n", cut, 200, cutReason},
        {"HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Le", cut, 200, cutReason},
        {QByteArray(8191, 'A'), cut, 0, cutReason},
        {QByteArray(8192, 'A'), bad, 0, tooLong},
        {"HTTP/1.0 200 OK\r\nX-Long: " + QByteArray(20000, 'x') + "\r\n\r\nbody", bad, 200,
         tooLong},
        {QByteArray("HTTP/1.0 200 OK\r\nX-A: b\0c\r\n\r\nbody", 33), bad, 200,
         "zero byte in the reply header"},
        {"HTTP/1.0 abc\r\nContent-Type: text/html\r\n\r\nbody", bad, 0, badStatus},
        {"ICY 200 OK\r\n\r\nbody", bad, 0, badStatus},
        {"\r\nbody", bad, 0, badStatus},
        {"HTTP/1.0 200 OK\r\nContent-Length: abc\r\n\r\nbody", bad, 200, "bad Content-Length"},
        {"HTTP/1.0 200 OK\r\nContent-Length: -4\r\n\r\nbody", bad, 200, "bad Content-Length"},
        {"HTTP/1.0 200 OK\r\nContent-Length: 12345678901234567890\r\n\r\nbody", bad, 200,
         "bad Content-Length"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n4\r\nbody\r\n0\r\n\r\n", bad,
         200, "unsupported transfer coding"},
    };
    for (const Row& row : rows) {
        ScriptedServer server(ScriptedServer::reply(row.reply));
        THttpCli client;
        HttpClientLog log;
        log.Attach(client);
        FetchToEnd(client, log, server);
        const QByteArray name = row.reply.left(40);
        EXPECT_EQ(log.doneErrors, QList<int>{row.error}) << name.constData();
        EXPECT_EQ(client.StatusCode(), row.status) << name.constData();
        EXPECT_EQ(client.ReasonPhrase(), row.reason) << name.constData();
        EXPECT_EQ(log.Count("DocBegin"), 0) << name.constData();
    }
}

// The client gives up on an endless line itself, without waiting for an Abort.
TEST(HttpCliHostile, EndlessHeaderLineEndsTheRequestAndTheConnection) {
    std::atomic<bool> closedByClient{false};
    ScriptedServer server([&](ScriptedServer::Connection& c) {
        c.readRequest();
        const QByteArray block(65536, 'B');
        while (c.send(block)) {
        }
        closedByClient = true;
    });
    THttpCli client;
    HttpClientLog log;
    log.Attach(client);
    FetchToEnd(client, log, server);
    EXPECT_EQ(log.doneErrors, QList<int>{THttpCli::kErrorBadReply});
    EXPECT_TRUE(WaitFor([&] { return closedByClient.load(); }));
}

TEST(HttpCliHostile, RedirectWhoseTargetAnswersNothingFails) {
    ScriptedServer server(QList<ScriptedServer::Script>{
        ScriptedServer::reply("HTTP/1.0 302 Found\r\nLocation: /next\r\n\r\n"),
        ScriptedServer::reply("")});
    THttpCli client;
    HttpClientLog log;
    log.Attach(client);
    FetchToEnd(client, log, server);
    EXPECT_EQ(server.requests().size(), 2);
    EXPECT_EQ(log.doneErrors, QList<int>{THttpCli::kErrorHeaderCut});
    EXPECT_EQ(client.StatusCode(), 302);
    EXPECT_EQ(client.ReasonPhrase(), "connection closed without a reply");
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
    DeliverPending(); // the server holds the connection: only the client could move
    EXPECT_EQ(log.requestsDone, 0);
    EXPECT_EQ(client.State(), hsWaitingHeader);
    client.Abort();
    ASSERT_TRUE(WaitFor([&] { return log.requestsDone == 1; }));
    EXPECT_EQ(log.doneErrors, QList<int>{3});
    EXPECT_EQ(client.StatusCode(), 404);
    server.release();
}

TEST(HttpCliHostile, BodyCutShortOfItsLengthFailsAndKeepsItsCount) {
    for (const bool reset : {false, true}) {
        ScriptedServer server([reset](ScriptedServer::Connection& c) {
            c.readRequest();
            c.send("HTTP/1.0 200 OK\r\nContent-Length: 1000000\r\n\r\n" + QByteArray(30000, 'x'));
            if (reset)
                c.reset();
        });
        THttpCli client;
        HttpClientLog log;
        log.Attach(client);
        FetchToEnd(client, log, server);
        EXPECT_EQ(client.StatusCode(), 200) << reset;
        EXPECT_EQ(log.doneErrors, QList<int>{THttpCli::kErrorBodyCut}) << reset;
        EXPECT_EQ(client.RequestError(), THttpCli::kErrorBodyCut);
        EXPECT_EQ(log.body.size(), client.ReceivedCount());
        if (!reset) {
            EXPECT_EQ(client.ReceivedCount(), 30000);
        }
        EXPECT_EQ(client.ReasonPhrase(), "connection closed before the announced length (" +
                                             QByteArray::number(client.ReceivedCount()) +
                                             " of 1000000 bytes)");
    }
}

TEST(HttpCliHostile, HeaderFloodFailsWithinItsBoundAndClosesTheConnection) {
    for (const QByteArray& line :
         {"X-Flood: " + QByteArray(200, 'a') + "\r\n", QByteArray("a:\n")}) {
        std::atomic<bool> closedByClient{false};
        ScriptedServer server([&](ScriptedServer::Connection& c) {
            c.readRequest();
            QByteArray block = "HTTP/1.0 200 OK\r\n";
            while (block.size() < 65536)
                block += line;
            while (c.send(block)) {
            }
            closedByClient = true;
        });
        THttpCli client;
        HttpClientLog log;
        log.Attach(client);
        FetchToEnd(client, log, server);
        EXPECT_EQ(log.doneErrors, QList<int>{THttpCli::kErrorHeaderTooLarge});
        EXPECT_EQ(client.ReasonPhrase(),
                  "reply header too large (more than 262144 bytes or 1000 lines)");
        qint64 kept = 0;
        for (const QByteArray& header : client.HeaderLines())
            kept += header.size();
        EXPECT_LE(kept, HttpReply::kMaxHeaderBytes);
        EXPECT_LE(client.HeaderLines().size(), HttpReply::kMaxHeaderLines);
        EXPECT_TRUE(WaitFor([&] { return closedByClient.load(); }));
    }
}

TEST(HttpCliHostile, FailedWriteToTheReceiveStreamEndsTheRequestWithItsError) {
    ScriptedServer server(
        ScriptedServer::reply("HTTP/1.0 200 OK\r\n\r\n" + QByteArray(100000, 'x')));
    QFile full(QStringLiteral("/dev/full"));
    ASSERT_TRUE(full.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    THttpCli client;
    HttpClientLog log;
    log.Attach(client);
    client.SetReceiveStream(&full);
    FetchToEnd(client, log, server);
    EXPECT_EQ(log.doneErrors, QList<int>{THttpCli::kErrorWriteFailed});
    EXPECT_EQ(client.ReasonPhrase(), "Stream write error: No space left on device");
    EXPECT_EQ(log.Count("DocEnd"), 1);
    EXPECT_LE(client.ReceivedCount(), THttpCli::kLineBufferSize); // nothing after the failure
}

TEST(HttpCliHostile, BinaryGarbageIsSurvived) {
    const TestSeed seed(20261207);
    QRandomGenerator random(seed.value());
    for (int round = 0; round < 20; ++round) {
        QByteArray garbage(int(random.bounded(1, 40000)), '\0');
        for (char& byte : garbage)
            byte = char(random.bounded(256));
        ScriptedServer server(ScriptedServer::reply(garbage));
        THttpCli client;
        HttpClientLog log;
        log.Attach(client);
        QBuffer stream;
        stream.open(QIODevice::WriteOnly);
        client.SetReceiveStream(&stream);
        FetchToEnd(client, log, server);
    }
}

TEST(HttpCliHostile, LargeContentLengthIsKeptWhole) {
    ScriptedServer server(
        ScriptedServer::reply("HTTP/1.0 200 OK\r\nContent-Length: 5000000000\r\n\r\nx"));
    THttpCli client;
    HttpClientLog log;
    log.Attach(client);
    FetchToEnd(client, log, server);
    EXPECT_EQ(client.ContentLength(), 5000000000LL);
    EXPECT_EQ(log.body, "x");
}
