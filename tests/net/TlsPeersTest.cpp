// The client over TLS against real peers: nginx with certificates made here by a test CA,
// tinyproxy tunnelling with CONNECT, and a hostile Python TLS server. Every server runs on
// free 127.0.0.1 ports in a temporary folder.
#include "net/HttpCli.h"
#include "net/HttpClientLog.h"
#include "net/TlsSession.h"
#include "support/EventLoopWait.h"
#include "support/HostileTlsServer.h"
#include "support/LocalServerProcess.h"
#include "support/TestCertificates.h"
#include "support/TestSeed.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QTemporaryFile>
#include <gtest/gtest.h>
#include <memory>

namespace {

struct Ports {
    unsigned short http = 0, expired = 0, wrong = 0, self = 0;
};

// nginx: TLS with the good certificate on its own port, and beside it plain http and TLS
// with the expired, the wrongly named and the self-signed certificate.
LocalServerProcess::Configure TlsNginxConfig(const TestCertificates& certificates,
                                             const QString& root, Ports& ports) {
    return [&certificates, root, &ports](const QString& folder, unsigned short port) {
        ports.http = FreeLoopbackPort();
        ports.expired = FreeLoopbackPort();
        ports.wrong = FreeLoopbackPort();
        ports.self = FreeLoopbackPort();
        const auto tls = [&](unsigned short number, const QString& name, const QString& extra) {
            return QStringLiteral("  server { listen 127.0.0.1:%1 ssl; root %2;\n"
                                  "    ssl_certificate %3; ssl_certificate_key %4;\n%5  }\n")
                .arg(number)
                .arg(root, certificates.path(name + ".pem"), certificates.path(name + ".key"),
                     extra);
        };
        const QString good = QStringLiteral("https://127.0.0.1:%1").arg(port);
        const QString plain = QStringLiteral("http://127.0.0.1:%1").arg(ports.http);
        const QString config =
            QStringLiteral("%1daemon off;\nmaster_process off;\nworker_processes 1;\n"
                           "pid %2/nginx.pid;\nerror_log %2/error.log;\n"
                           "events { worker_connections 256; }\n"
                           "http {\n  default_type application/octet-stream;\n"
                           "  log_format lines '$request|$http_host|$http_authorization|"
                           "$http_proxy_authorization|$https';\n"
                           "  access_log %2/access.log lines;\n"
                           "  client_body_temp_path %2/body; proxy_temp_path %2/proxy;\n"
                           "  fastcgi_temp_path %2/fastcgi; uwsgi_temp_path %2/uwsgi;\n"
                           "  scgi_temp_path %2/scgi;\n")
                .arg(geteuid() == 0 ? QStringLiteral("user root;\n") : QString(), folder) +
            tls(port, "server",
                "    location = /to-http { return 302 " + plain + "/hello.txt; }\n") +
            tls(ports.expired, "expired", "") + tls(ports.wrong, "wrong", "") +
            tls(ports.self, "self", "") +
            QStringLiteral("  server { listen 127.0.0.1:%1; root %2;\n"
                           "    location = /to-https { return 302 %3/to-http; } }\n}\n")
                .arg(ports.http)
                .arg(root, good);
        QFile file(QDir(folder).filePath(QStringLiteral("nginx.conf")));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(config.toUtf8());
        return QStringList{QStringLiteral("-p"), folder, QStringLiteral("-c"), file.fileName()};
    };
}

class TlsPeers : public ::testing::Test {
protected:
    static constexpr quint32 kSeed = 11;
    static constexpr int kBigSize = 100 * 1024 * 1024;

    static void SetUpTestSuite() {
        s_certificates = std::make_unique<TestCertificates>();
        s_failure = s_certificates->make();
        if (!s_failure.isEmpty())
            return;
        s_documents = std::make_unique<QTemporaryDir>();
        s_big = RandomBytes(kBigSize);
        WriteDocument("big.bin", s_big);
        WriteDocument("hello.txt", "hello over TLS\n");
        s_nginx = std::make_unique<LocalServerProcess>(
            QStringLiteral("/usr/sbin/nginx"),
            TlsNginxConfig(*s_certificates, s_documents->path(), s_ports));
        s_failure = s_nginx->start();
        const QString tunnel = QStringLiteral("ConnectPort %1\n").arg(s_nginx->port());
        s_proxy = std::make_unique<LocalServerProcess>(QStringLiteral("/usr/bin/tinyproxy"),
                                                       TinyproxyConfig(tunnel));
        s_authProxy = std::make_unique<LocalServerProcess>(
            QStringLiteral("/usr/bin/tinyproxy"),
            TinyproxyConfig(tunnel + QStringLiteral("BasicAuth alice s3cret\n")));
        s_hostile = std::make_unique<HostileTlsServer>(*s_certificates);
        for (LocalServerProcess* server : {s_proxy.get(), s_authProxy.get()}) {
            if (s_failure.isEmpty())
                s_failure = server->start();
        }
        if (s_failure.isEmpty())
            s_failure = s_hostile->start();
    }
    static void TearDownTestSuite() {
        s_hostile.reset();
        s_authProxy.reset();
        s_proxy.reset();
        s_nginx.reset();
        s_documents.reset();
        s_certificates.reset();
        s_big.clear();
    }

    const TestSeed m_seed{kSeed};

    void SetUp() override {
        ASSERT_TRUE(s_failure.isEmpty()) << qPrintable(s_failure);
        TlsTrust::SetCaFile(s_certificates->caFile());
        m_log.Attach(m_client);
    }
    void TearDown() override { TlsTrust::SetCaFile(QString()); }

    static QByteArray RandomBytes(int size) {
        QByteArray bytes(size, '\0');
        QRandomGenerator generator(TestSeed::fromEnvironment(kSeed));
        generator.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
        return bytes;
    }
    static void WriteDocument(const QString& name, const QByteArray& content) {
        QFile file(QDir(s_documents->path()).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    static QByteArray Url(const QByteArray& scheme, unsigned short port, const QByteArray& path,
                          const QByteArray& host = "127.0.0.1") {
        return scheme + "://" + host + ':' + QByteArray::number(port) + path;
    }
    // The Host header names the port, as both servers listen on ports of their own.
    static QByteArray hostOf(unsigned short port) {
        return "127.0.0.1:" + QByteArray::number(port);
    }
    static QList<QByteArray> Logged() {
        return s_nginx->readFile(QStringLiteral("access.log")).trimmed().split('\n');
    }

    bool Fetch(const QByteArray& url, QIODevice* stream = nullptr) {
        return m_log.Fetch(m_client, url, stream);
    }

    THttpCli m_client;
    HttpClientLog m_log;

    static std::unique_ptr<TestCertificates> s_certificates;
    static std::unique_ptr<QTemporaryDir> s_documents;
    static std::unique_ptr<LocalServerProcess> s_nginx, s_proxy, s_authProxy;
    static std::unique_ptr<HostileTlsServer> s_hostile;
    static Ports s_ports;
    static QString s_failure;
    static QByteArray s_big;
};

std::unique_ptr<TestCertificates> TlsPeers::s_certificates;
std::unique_ptr<QTemporaryDir> TlsPeers::s_documents;
std::unique_ptr<LocalServerProcess> TlsPeers::s_nginx, TlsPeers::s_proxy, TlsPeers::s_authProxy;
std::unique_ptr<HostileTlsServer> TlsPeers::s_hostile;
Ports TlsPeers::s_ports;
QString TlsPeers::s_failure;
QByteArray TlsPeers::s_big;

} // namespace

TEST_F(TlsPeers, HundredMegabytesArriveByteExactAndResumeWithRange) {
    m_client.OnDocData = nullptr; // no copy of 100 MB into the log
    m_client.SetBodyChunkSize(256 * 1024);
    QTemporaryFile whole;
    ASSERT_TRUE(whole.open());
    ASSERT_TRUE(Fetch(Url("https", s_nginx->port(), "/big.bin"), &whole));
    EXPECT_EQ(m_client.StatusCode(), 200);
    EXPECT_EQ(m_log.doneErrors, QList<int>{0});
    EXPECT_EQ(m_client.ReceivedCount(), kBigSize);
    whole.seek(0);
    EXPECT_EQ(QCryptographicHash::hash(whole.readAll(), QCryptographicHash::Sha256),
              QCryptographicHash::hash(s_big, QCryptographicHash::Sha256));

    const int from = kBigSize - 123457;
    m_client.SetExtraHeaders({"Range: bytes=" + QByteArray::number(from) + '-'});
    QTemporaryFile tail;
    ASSERT_TRUE(tail.open());
    ASSERT_TRUE(Fetch(Url("https", s_nginx->port(), "/big.bin", "localhost"), &tail));
    EXPECT_EQ(m_client.StatusCode(), 206);
    EXPECT_EQ(m_log.doneErrors, (QList<int>{0, 0}));
    tail.seek(0);
    EXPECT_TRUE(tail.readAll() == s_big.mid(from));
}

// Each hop speaks its own scheme; the name and password of an https URL never go out in
// the clear after a redirect to http.
TEST_F(TlsPeers, RedirectsCrossBetweenHttpAndHttps) {
    struct Row {
        QByteArray url;
        QList<QByteArray> logged; // "request line|Host|Authorization|Proxy-Authorization|https"
    };
    const QList<Row> rows = {
        {Url("http", s_ports.http, "/to-https"),
         {"GET /to-https HTTP/1.0|" + hostOf(s_ports.http) + "|-|-|",
          "GET /to-http HTTP/1.0|" + hostOf(s_nginx->port()) + "|-|-|on",
          "GET /hello.txt HTTP/1.0|" + hostOf(s_ports.http) + "|-|-|"}},
        {Url("https", s_nginx->port(), "/to-http", "alice:pw@127.0.0.1"),
         {"GET /to-http HTTP/1.0|" + hostOf(s_nginx->port()) + "|Basic YWxpY2U6cHc=|-|on",
          "GET /hello.txt HTTP/1.0|" + hostOf(s_ports.http) + "|-|-|"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url.constData());
        m_log.body.clear();
        ASSERT_TRUE(Fetch(row.url));
        EXPECT_EQ(m_client.StatusCode(), 200);
        EXPECT_EQ(m_client.RequestError(), 0);
        EXPECT_EQ(m_log.body, "hello over TLS\n");
        const QList<QByteArray> logged = Logged();
        EXPECT_EQ(logged.mid(logged.size() - row.logged.size()), row.logged);
    }
}

// Every refusal is a failed request with its reason; nothing of the body is taken.
TEST_F(TlsPeers, UntrustedCertificatesAreRefusedWithTheirReason) {
    struct Row {
        unsigned short port;
        QByteArray host;
        bool withTestCa;
        QByteArray reason;
    };
    const QList<Row> rows = {
        {s_ports.expired, "localhost", true, "certificate of localhost has expired"},
        {s_ports.wrong, "127.0.0.1", true, "certificate is for wrong.example, not 127.0.0.1"},
        {s_ports.wrong, "localhost", true, "certificate is for wrong.example, not localhost"},
        {s_ports.self, "127.0.0.1", true,
         "certificate of 127.0.0.1 is not trusted (self-signed certificate)"},
        {s_nginx->port(), "localhost", false,
         "certificate of localhost is not trusted (unable to get local issuer certificate)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.reason.constData());
        TlsTrust::SetCaFile(row.withTestCa ? s_certificates->caFile() : QString());
        const qsizetype logged = Logged().size();
        ASSERT_TRUE(Fetch(Url("https", row.port, "/hello.txt", row.host)));
        EXPECT_EQ(m_client.StatusCode(), 404);
        EXPECT_EQ(m_client.RequestError(), THttpCli::kErrorTls);
        EXPECT_EQ(m_client.ReasonPhrase(), row.reason);
        EXPECT_EQ(m_client.ReceivedCount(), 0);
        EXPECT_EQ(Logged().size(), logged); // no request reached a server
    }
}

// Through tinyproxy an https URL is a CONNECT tunnel: the proxy's credentials go with the
// CONNECT only, the request inside carries the path alone.
TEST_F(TlsPeers, HttpsThroughProxyTunnels) {
    struct Row {
        LocalServerProcess* proxy;
        QByteArray user;
        int status;
        int error;
        QByteArray reason;
    };
    const QByteArray authority = "localhost:" + QByteArray::number(s_nginx->port());
    const QList<Row> rows = {
        {s_proxy.get(), "", 200, 0, "OK"},
        {s_authProxy.get(), "alice", 200, 0, "OK"},
        {s_authProxy.get(), "", 407, THttpCli::kErrorProxyTunnel,
         "proxy refused the tunnel to " + authority + ": 407 Proxy Authentication Required"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.reason.constData());
        m_client.SetProxy("127.0.0.1:" + QByteArray::number(row.proxy->port()));
        m_client.SetProxyUsername(row.user);
        m_client.SetProxyPassword("s3cret");
        m_log.body.clear();
        ASSERT_TRUE(Fetch(Url("https", s_nginx->port(), "/hello.txt", "localhost")));
        EXPECT_EQ(m_client.StatusCode(), row.status);
        EXPECT_EQ(m_client.RequestError(), row.error);
        EXPECT_EQ(m_client.ReasonPhrase(), row.reason);
        EXPECT_EQ(m_log.body, row.error ? QByteArray() : QByteArray("hello over TLS\n"));
        if (row.error == 0) {
            EXPECT_EQ(Logged().last(), "GET /hello.txt HTTP/1.0|localhost:" +
                                           QByteArray::number(s_nginx->port()) + "|-|-|on");
        }
    }
}

// A hostile server never makes a broken transfer look whole, nor the client hang or grow.
TEST_F(TlsPeers, HostileServerEndsInFailures) {
    struct Row {
        unsigned short port;
        QByteArray path;
        int error;
        QByteArray reason;
        qint64 received;
    };
    const unsigned short port = s_hostile->port();
    const QList<Row> rows = {
        {s_hostile->garbagePort(), "/", THttpCli::kErrorTls,
         "TLS handshake with 127.0.0.1 failed: wrong version number", 0},
        {port, "/cut", THttpCli::kErrorBodyCut,
         "connection closed before the announced length (400 of 1000 bytes)", 400},
        {port, "/cut-unframed", THttpCli::kErrorBodyCut,
         "connection closed without TLS close_notify (400 bytes)", 400},
        {port, "/clean-unframed", 0, "OK", 400},
        {port, "/endless", THttpCli::kErrorHeaderTooLarge,
         "reply header too large (more than 262144 bytes or 1000 lines)", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path.constData());
        m_log.body.clear();
        ASSERT_TRUE(Fetch(Url("https", row.port, row.path)));
        EXPECT_EQ(m_client.RequestError(), row.error);
        EXPECT_EQ(m_client.ReasonPhrase(), row.reason);
        EXPECT_EQ(m_client.ReceivedCount(), row.received);
        QByteArray sent; // the server's body: 0, 1, ..., 199, twice
        for (int i = 0; i < row.received; ++i)
            sent += char(i % 200);
        EXPECT_EQ(m_log.body, sent);
    }
}

// The client that ends a complete body ends the TLS stream with close_notify, so the server
// can tell it from a cut.
TEST_F(TlsPeers, ClientClosesWithCloseNotify) {
    ASSERT_TRUE(Fetch(Url("https", s_hostile->port(), "/close-check")));
    EXPECT_EQ(m_client.RequestError(), 0);
    EXPECT_EQ(m_log.body, "hello");
    ASSERT_TRUE(WaitFor([] { return !s_hostile->events().isEmpty(); }));
    EXPECT_EQ(s_hostile->events(), "close_notify from the client\n");
}
