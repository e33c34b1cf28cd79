#include "service/ReplySizeLimit.h"
#include "net/HttpCli.h"
#include "support/EventLoopWait.h"
#include "support/ScriptedServer.h"

#include <QBuffer>
#include <gtest/gtest.h>

namespace {

constexpr qint64 kLimit = 20000;

// Sends a 200 header and then the body, or body bytes for ever when endless.
ScriptedServer::Script serve(qint64 bodyBytes, bool endless) {
    return [bodyBytes, endless](ScriptedServer::Connection& c) {
        c.readRequest();
        c.send("HTTP/1.0 200 OK\r\n\r\n" + QByteArray(bodyBytes, 'b'));
        const QByteArray more(65536, 'e');
        while (endless && c.send(more)) {
        }
    };
}

} // namespace

TEST(ReplySizeLimit, AReplyPastTheLimitIsAbortedAndNotKept) {
    struct Row {
        const char* name;
        qint64 bodyBytes;
        bool endless;
        bool exceeded;
    };
    const Row rows[] = {{"at the limit", kLimit, false, false},
                        {"one byte more", kLimit + 1, false, true},
                        {"endless", 0, true, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server(serve(row.bodyBytes, row.endless));
        THttpCli client;
        QBuffer received;
        received.open(QIODevice::ReadWrite);
        client.SetURL(server.url("/version2.txt"));
        client.SetReceiveStream(&received);
        ReplySizeLimit limit(client, kLimit);
        int done = 0;
        quint16 error = 0;
        client.OnRequestDone = [&](THttpCli*, THttpRequest, quint16 e) {
            ++done;
            error = e;
        };
        client.GetAsync();
        ASSERT_TRUE(WaitFor([&] { return done == 1; }));
        EXPECT_EQ(limit.exceeded(), row.exceeded);
        if (row.exceeded) {
            EXPECT_EQ(error, THttpCli::kErrorAborted);
            EXPECT_EQ(client.StatusCode(), 404);
            EXPECT_LE(received.size(), kLimit);
            EXPECT_LE(client.ReceivedCount(), kLimit + 8192); // one chunk past it at most
        } else {
            EXPECT_EQ(error, 0);
            EXPECT_EQ(received.data(), QByteArray(kLimit, 'b'));
        }
    }
}
