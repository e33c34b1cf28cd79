#include "net/WSocket.h"
#include "net/Buffer.h"
#include "net/SocketErrors.h"
#include "support/EventLoopWait.h"
#include "support/FreePort.h"
#include "support/ScriptedServer.h"
#include "support/Settle.h"

#include <QStringList>
#include <cerrno>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

// A socket that records what it hands to the platform, one entry per send.
class RecordingSocket : public TWSocket {
public:
    QList<int> sends;

protected:
    int RealSend(const char* data, int length) override {
        sends.append(length);
        return TWSocket::RealSend(data, length);
    }
};

// Records every event of a socket as text, in order.
struct EventLog {
    QStringList events;

    void Attach(TCustomWSocket& socket) {
        socket.OnSessionConnected = [this](TCustomWSocket*, quint16 e) {
            events << QStringLiteral("connected %1").arg(e);
        };
        socket.OnSessionClosed = [this](TCustomWSocket*, quint16 e) {
            events << QStringLiteral("closed %1").arg(e);
        };
        socket.OnChangeState = [this](TCustomWSocket*, TSocketState, TSocketState s) {
            events << QStringLiteral("state %1").arg(int(s));
        };
        socket.OnDataSent = [this](TCustomWSocket*, quint16 e) {
            events << QStringLiteral("sent %1").arg(e);
        };
    }
    int Count(const QString& event) const { return int(events.count(event)); }
};

void ConnectTo(TCustomWSocket& socket, quint16 port) {
    socket.SetAddr("127.0.0.1");
    socket.SetPort(QByteArray::number(port));
    socket.SetProto("tcp");
    socket.Connect();
}

QString MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ESocketException& error) {
        return error.message();
    }
    return QString();
}

} // namespace

TEST(SocketErrors, TextsAndNumbersFollowTheWinsockTable) {
    EXPECT_EQ(SocketErrors::SocketErrorText(0), "No Error");
    EXPECT_EQ(SocketErrors::SocketErrorText(10061), "Connection refused");
    EXPECT_EQ(SocketErrors::SocketErrorText(11001), "Host not found");
    EXPECT_EQ(SocketErrors::SocketErrorText(10070), "Stale NFS file handle");
    EXPECT_EQ(SocketErrors::SocketErrorText(12345), "Not a WinSock error");
    EXPECT_EQ(SocketErrors::FromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(SocketErrors::FromErrno(EWOULDBLOCK), 10035);
    EXPECT_EQ(SocketErrors::FromErrno(EMFILE), 10024);
    EXPECT_EQ(SocketErrors::FromErrno(ECONNRESET), 10054);
    EXPECT_EQ(SocketErrors::FromErrno(ETIMEDOUT), 10060);
}

TEST(TBuffer, FillsToCapacityAndRewindsWhenEmptied) {
    TBuffer chunk(4);
    EXPECT_EQ(chunk.Write("abcdef", 6), 4);
    const char* data = nullptr;
    ASSERT_EQ(chunk.Peek(data), 4);
    EXPECT_EQ(QByteArray(data, 4), "abcd");
    chunk.Remove(3);
    EXPECT_EQ(chunk.Peek(data), 1);
    EXPECT_EQ(chunk.Write("x", 1), 0); // written bytes still occupy the chunk
    chunk.Remove(1);
    EXPECT_EQ(chunk.Peek(data), 0);
    EXPECT_EQ(chunk.Write("xy", 2), 2);
    EXPECT_EQ(TBuffer(0).BufSize(), 1514);
}

TEST(WSocket, StartsClosedWithTheDocumentedDefaults) {
    TWSocket socket;
    EXPECT_EQ(socket.State(), wsClosed);
    EXPECT_EQ(int(socket.State()), 7);
    EXPECT_EQ(socket.Proto(), "tcp");
    EXPECT_EQ(socket.FlushTimeout(), 60);
    EXPECT_EQ(socket.LingerOnOff(), wsLingerOn);
    EXPECT_EQ(socket.LingerTimeout(), 0);
    EXPECT_EQ(socket.SendFlags(), wsSendNormal);
    EXPECT_FALSE(socket.MultiThreaded());
    EXPECT_EQ(MessageOf([&] { socket.SetSendFlags(5); }), "Invalid SendFlags");
}

TEST(WSocket, DottedLookupIsAnsweredBeforeItReturns) {
    TWSocket socket;
    QList<int> done;
    socket.OnDnsLookupDone = [&](TCustomWSocket*, quint16 e) { done << e; };
    socket.DnsLookup("127.0.0.1");
    EXPECT_EQ(done, QList<int>{0});
    EXPECT_EQ(socket.DnsResult(), "127.0.0.1");
    EXPECT_TRUE(socket.DnsResultList().isEmpty());
}

TEST(WSocket, EmptyHostRaisesOrGoesToOnError) {
    TWSocket socket;
    QList<int> done;
    socket.OnDnsLookupDone = [&](TCustomWSocket*, quint16 e) { done << e; };
    EXPECT_EQ(MessageOf([&] { socket.DnsLookup(""); }), "DNS lookup: invalid host name.");
    EXPECT_TRUE(done.isEmpty());

    int errors = 0;
    socket.OnError = [&](TCustomWSocket*) { ++errors; };
    socket.DnsLookup("");
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(done, QList<int>{10022});
}

TEST(WSocket, NameLookupCompletesFromTheEventLoop) {
    TWSocket socket;
    QList<int> done;
    socket.OnDnsLookupDone = [&](TCustomWSocket*, quint16 e) { done << e; };
    socket.DnsLookup("localhost");
    EXPECT_TRUE(done.isEmpty());
    ASSERT_TRUE(WaitFor([&] { return !done.isEmpty(); }));
    EXPECT_EQ(done, QList<int>{0});
    EXPECT_EQ(socket.DnsResult(), "127.0.0.1");
    EXPECT_TRUE(socket.DnsResultList().contains("127.0.0.1"));
}

TEST(WSocket, CancelledLookupReports10004AndIgnoresTheLateAnswer) {
    TWSocket socket;
    QList<int> done;
    socket.OnDnsLookupDone = [&](TCustomWSocket*, quint16 e) { done << e; };
    socket.DnsLookup("localhost");
    socket.CancelDnsLookup();
    EXPECT_EQ(done, QList<int>{10004});
    ASSERT_TRUE(Settle());
    EXPECT_EQ(done, QList<int>{10004});
    EXPECT_TRUE(socket.DnsResult().isEmpty());
}

TEST(WSocket, DestroyingTheSocketDropsAPendingLookup) {
    QList<int> done;
    {
        TWSocket socket;
        socket.OnDnsLookupDone = [&](TCustomWSocket*, quint16 e) { done << e; };
        socket.DnsLookup("localhost");
    }
    ASSERT_TRUE(Settle());
    EXPECT_TRUE(done.isEmpty());
}

TEST(WSocket, ConnectChecksPortThenAddressAndNeedsBothAgainAfterAClose) {
    ScriptedServer server([](ScriptedServer::Connection& c) { c.waitForPeerClose(); });
    TWSocket socket;
    EXPECT_EQ(MessageOf([&] { socket.Connect(); }), "Connect: No Port Specified");
    socket.SetPort("80");
    EXPECT_EQ(MessageOf([&] { socket.Connect(); }), "Connect: No IP Address Specified");

    bool connected = false;
    socket.OnSessionConnected = [&](TCustomWSocket*, quint16) { connected = true; };
    ConnectTo(socket, server.port());
    ASSERT_TRUE(WaitFor([&] { return connected; }));
    EXPECT_EQ(socket.State(), wsConnected);
    EXPECT_EQ(MessageOf([&] { socket.SetAddr("10.0.0.1"); }), "Cannot change Addr if not closed");
    EXPECT_EQ(MessageOf([&] { socket.SetPort("81"); }), "Cannot change Port if not closed");
    EXPECT_EQ(MessageOf([&] { socket.Connect(); }), "Connect: Socket already in use");

    socket.Close();
    EXPECT_EQ(socket.Addr(), "10.0.0.1"); // the text stays, its flag does not
    EXPECT_EQ(MessageOf([&] { socket.Connect(); }), "Connect: No Port Specified");
}

TEST(WSocket, PortThatIsNoNumberNorServiceIsASocketError) {
    TWSocket socket;
    EXPECT_EQ(MessageOf([&] { socket.SetPort("no-such-service-here"); }),
              "Error 11004 in function SetPort: Cannot convert port 'no-such-service-here'\r\n"
              "No Data");
    EXPECT_EQ(MessageOf([&] { socket.SetPort("70000"); }),
              "Error 11004 in function SetPort: Cannot convert port '70000'\r\nNo Data");
    EXPECT_EQ(socket.LastError(), 11004);
    EXPECT_EQ(MessageOf([&] { socket.SetPort(" 8080 "); }), QString());
}

TEST(WSocket, PeerThatClosesAtOnceGivesDataThenOneCloseThenClosedState) {
    ScriptedServer server([](ScriptedServer::Connection& c) { c.send("bye"); });
    TWSocket socket;
    EventLog log;
    log.Attach(socket);
    QByteArray received;
    socket.OnDataAvailable = [&](TCustomWSocket* s, quint16) {
        char buffer[100];
        const int count = s->Receive(buffer, sizeof buffer);
        if (count > 0)
            received += QByteArray(buffer, count);
        log.events << QStringLiteral("data");
    };
    ConnectTo(socket, server.port());
    ASSERT_TRUE(WaitFor([&] { return socket.State() == wsClosed; }));
    ASSERT_TRUE(Settle(server));

    EXPECT_EQ(received, "bye");
    EXPECT_EQ(log.events.mid(0, 4), (QStringList{"state 1", "state 3", "state 4", "connected 0"}));
    const qsizetype firstData = log.events.indexOf("data");
    const qsizetype closed = log.events.indexOf("closed 0");
    ASSERT_GT(firstData, 3);
    EXPECT_GT(closed, firstData);
    EXPECT_EQ(log.Count("closed 0"), 1);
    EXPECT_EQ(log.events.last(), "state 7");
    EXPECT_EQ(log.events.indexOf("state 7"), closed + 1);
}

TEST(WSocket, ClosedPortGivesConnected10061ThenClosed0) {
    ClosedPort closed;
    TWSocket socket;
    EventLog log;
    log.Attach(socket);
    ConnectTo(socket, closed.port);
    ASSERT_TRUE(WaitFor([&] { return socket.State() == wsClosed; }));
    ASSERT_TRUE(Settle());
    EXPECT_EQ(log.events, (QStringList{"state 1", "state 3", "state 4", "connected 10061",
                                       "state 7", "closed 0"}));
}

TEST(WSocket, SendWhileNotConnectedRaisesOrReturnsMinusOne) {
    TWSocket socket;
    EXPECT_EQ(MessageOf([&] { socket.Send("x", 1); }),
              "Error 10057 in function Send\r\nSocket is not connected");
    int errors = 0;
    socket.OnError = [&](TCustomWSocket*) { ++errors; };
    EXPECT_EQ(socket.Send("x", 1), -1);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(socket.LastError(), 10057);
}

TEST(WSocket, SendGoesOutInChunksAndReportsOnceFromTheEventLoop) {
    ScriptedServer server([](ScriptedServer::Connection& c) { c.waitForPeerClose(); });
    RecordingSocket socket;
    EventLog log;
    log.Attach(socket);
    ConnectTo(socket, server.port());
    ASSERT_TRUE(WaitFor([&] { return socket.State() == wsConnected; }));

    const QByteArray data(5000, 'z');
    EXPECT_EQ(socket.Send(data.constData(), int(data.size())), 5000);
    EXPECT_EQ(log.Count("sent 0"), 0); // not from inside Send
    EXPECT_EQ(socket.sends, (QList<int>{1514, 1514, 1514, 458}));
    ASSERT_TRUE(WaitFor([&] { return log.Count("sent 0") > 0; }));
    DeliverPending(); // the server only reads: a second report could only come from here
    EXPECT_EQ(log.Count("sent 0"), 1);
}

TEST(WSocket, CloseReportsOnceAndASecondCloseDoesNothing) {
    ScriptedServer server([](ScriptedServer::Connection& c) { c.waitForPeerClose(); });
    TWSocket socket;
    EventLog log;
    log.Attach(socket);
    ConnectTo(socket, server.port());
    ASSERT_TRUE(WaitFor([&] { return socket.State() == wsConnected; }));
    socket.Close();
    socket.Close();
    ASSERT_TRUE(Settle(server));
    EXPECT_EQ(log.Count("closed 0"), 1);
    EXPECT_EQ(socket.State(), wsClosed);
}

TEST(WSocket, HandlerExceptionEndsTheNoticeButNotTheConnection) {
    ScriptedServer server([](ScriptedServer::Connection& c) {
        c.send("first");
        c.waitUntilReleased();
        c.send("second");
    });
    TWSocket socket;
    QByteArray received;
    int closes = 0;
    socket.OnSessionClosed = [&](TCustomWSocket*, quint16) { ++closes; };
    socket.OnDataAvailable = [&](TCustomWSocket* s, quint16) {
        char buffer[100];
        const int count = s->Receive(buffer, sizeof buffer);
        if (count > 0)
            received += QByteArray(buffer, count);
        throw std::runtime_error("handler failed");
    };
    ConnectTo(socket, server.port());
    ASSERT_TRUE(WaitFor([&] { return received == "first"; }));
    server.release();
    ASSERT_TRUE(WaitFor([&] { return closes == 1; }));
    EXPECT_EQ(received, "firstsecond");
}

TEST(WSocket, DataLeftUnreadIsAnnouncedAgainAndThePeersCloseStillArrives) {
    ScriptedServer server([](ScriptedServer::Connection& c) {
        c.send("unread");
        c.waitUntilReleased();
    });
    TWSocket socket;
    int notices = 0;
    QList<int> closes;
    socket.OnDataAvailable = [&](TCustomWSocket*, quint16) { ++notices; };
    socket.OnSessionClosed = [&](TCustomWSocket*, quint16 e) { closes << e; };
    ConnectTo(socket, server.port());
    ASSERT_TRUE(WaitFor([&] { return notices >= 3; }));
    EXPECT_TRUE(closes.isEmpty());
    server.release();
    ASSERT_TRUE(WaitFor([&] { return !closes.isEmpty(); }));
    EXPECT_EQ(closes, QList<int>{0});
    EXPECT_EQ(socket.State(), wsClosed);
}

TEST(WSocket, UnclaimedDataIsReadAndDropped) {
    ScriptedServer server([](ScriptedServer::Connection& c) { c.send(QByteArray(5000, 'x')); });
    TWSocket socket;
    int closes = 0;
    socket.OnSessionClosed = [&](TCustomWSocket*, quint16) { ++closes; };
    ConnectTo(socket, server.port());
    ASSERT_TRUE(WaitFor([&] { return closes == 1; }));
}

TEST(WSocket, PeerResetArrivesAsTheCloseError) {
    ScriptedServer server([](ScriptedServer::Connection& c) {
        c.readSome();
        c.reset();
    });
    TWSocket socket;
    QList<int> closes;
    socket.OnSessionClosed = [&](TCustomWSocket*, quint16 e) { closes << e; };
    socket.OnSessionConnected = [](TCustomWSocket* s, quint16) { s->SendString("hello"); };
    socket.OnDataAvailable = [](TCustomWSocket* s, quint16) {
        char buffer[16];
        s->Receive(buffer, sizeof buffer);
    };
    ConnectTo(socket, server.port());
    ASSERT_TRUE(WaitFor([&] { return !closes.isEmpty(); }));
    ASSERT_TRUE(Settle(server));
    EXPECT_EQ(closes, QList<int>{10054});
}

TEST(WSocket, AbortClosesWithoutShutdownAndReportsOnce) {
    ScriptedServer server([](ScriptedServer::Connection& c) { c.waitForPeerClose(); });
    TWSocket socket;
    EventLog log;
    log.Attach(socket);
    ConnectTo(socket, server.port());
    ASSERT_TRUE(WaitFor([&] { return socket.State() == wsConnected; }));
    socket.SendString("queued");
    socket.Abort();
    ASSERT_TRUE(Settle(server));
    EXPECT_EQ(log.Count("closed 0"), 1);
    EXPECT_EQ(socket.State(), wsClosed);
    EXPECT_EQ(socket.LingerOnOff(), wsLingerOn); // back to the defaults
}
