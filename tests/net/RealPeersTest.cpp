// The client against real peers from Debian: nginx as the web server and tinyproxy as the
// HTTP proxy, both started here on free 127.0.0.1 ports.
#include "net/HttpCli.h"
#include "net/HttpClientLog.h"
#include "support/EventLoopWait.h"
#include "support/LocalServerProcess.h"
#include "support/TestSeed.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QTemporaryFile>
#include <gtest/gtest.h>
#include <memory>

namespace {

class RealPeers : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_documents = std::make_unique<QTemporaryDir>();
        s_big = RandomBytes(24 * 1024 * 1024 + 321);
        WriteDocument("big.bin", s_big);
        WriteDocument("hello.txt", "hello from nginx\n");
        WriteDocument(QString::fromUtf8("my song \u00e9.mp3"), "a song\n");
        s_nginx = std::make_unique<LocalServerProcess>(
            QStringLiteral("/usr/sbin/nginx"),
            NginxConfig(s_documents->path(),
                        QStringLiteral("    location = /moved { return 302 /hello.txt; }")));
        s_nginxFailure = s_nginx->start();
        s_proxy = std::make_unique<LocalServerProcess>(QStringLiteral("/usr/bin/tinyproxy"),
                                                       TinyproxyConfig());
        s_proxyFailure = s_proxy->start();
    }
    static void TearDownTestSuite() {
        s_proxy.reset();
        s_nginx.reset();
        s_documents.reset();
        s_big.clear();
    }
    static constexpr quint32 kSeed = 7;
    // Names the seed of s_big in every failure.
    const TestSeed m_seed{kSeed};

    void SetUp() override { ASSERT_TRUE(s_nginxFailure.isEmpty()) << qPrintable(s_nginxFailure); }

    static QByteArray RandomBytes(int size) {
        QByteArray bytes(size, '\0');
        QRandomGenerator generator(TestSeed::fromEnvironment(kSeed));
        for (char& byte : bytes)
            byte = char(generator.bounded(256));
        return bytes;
    }
    static void WriteDocument(const QString& name, const QByteArray& content) {
        QFile file(QDir(s_documents->path()).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    static QByteArray Url(const QByteArray& path) {
        return "http://127.0.0.1:" + QByteArray::number(s_nginx->port()) + path;
    }
    // The lines nginx logged ("request line|Host header").
    static QList<QByteArray> Logged() {
        return s_nginx->readFile(QStringLiteral("access.log")).trimmed().split('\n');
    }

    bool Fetch(const QByteArray& url, QIODevice* stream = nullptr) {
        return m_log.Fetch(m_client, url, stream);
    }

    THttpCli m_client;
    HttpClientLog m_log;
    RealPeers() { m_log.Attach(m_client); }

    static std::unique_ptr<QTemporaryDir> s_documents;
    static std::unique_ptr<LocalServerProcess> s_nginx;
    static std::unique_ptr<LocalServerProcess> s_proxy;
    static QString s_nginxFailure;
    static QString s_proxyFailure;
    static QByteArray s_big;
};

std::unique_ptr<QTemporaryDir> RealPeers::s_documents;
std::unique_ptr<LocalServerProcess> RealPeers::s_nginx;
std::unique_ptr<LocalServerProcess> RealPeers::s_proxy;
QString RealPeers::s_nginxFailure;
QString RealPeers::s_proxyFailure;
QByteArray RealPeers::s_big;

} // namespace

TEST_F(RealPeers, LargeFileArrivesByteExact) {
    m_client.OnDocData = nullptr; // no copy of 24 MB into the log
    QTemporaryFile target;
    ASSERT_TRUE(target.open());
    ASSERT_TRUE(Fetch(Url("/big.bin"), &target));
    EXPECT_EQ(m_client.StatusCode(), 200);
    EXPECT_EQ(m_client.ContentLength(), s_big.size());
    EXPECT_EQ(m_client.ReceivedCount(), s_big.size());
    target.flush();
    target.seek(0);
    EXPECT_EQ(QCryptographicHash::hash(target.readAll(), QCryptographicHash::Sha256),
              QCryptographicHash::hash(s_big, QCryptographicHash::Sha256));
    EXPECT_EQ(m_log.Count("DocEnd"), 1);
    EXPECT_EQ(m_log.doneErrors, QList<int>{0});
    EXPECT_TRUE(Logged().contains("GET /big.bin HTTP/1.0|127.0.0.1:" +
                                  QByteArray::number(s_nginx->port())));
}

TEST_F(RealPeers, MissingFileGivesNginxs404) {
    ASSERT_TRUE(Fetch(Url("/no/such/file.mp3")));
    EXPECT_EQ(m_client.StatusCode(), 404);
    EXPECT_EQ(m_client.ReasonPhrase(), "Not Found");
    EXPECT_EQ(m_log.Count("DocEnd"), 0);
    EXPECT_EQ(m_log.doneErrors, QList<int>{0});
}

TEST_F(RealPeers, RedirectIsFollowed) {
    ASSERT_TRUE(Fetch(Url("/moved")));
    EXPECT_EQ(m_client.StatusCode(), 200);
    EXPECT_EQ(m_log.body, "hello from nginx\n");
    EXPECT_EQ(m_log.Count("LocationChange"), 1);
    EXPECT_EQ(m_log.requestsDone, 1);
    EXPECT_EQ(m_client.HeaderLines().first(), "HTTP/1.1 302 Moved Temporarily");
}

TEST_F(RealPeers, ThroughTinyproxyTheServerSeesThePathAndHost) {
    ASSERT_TRUE(s_proxyFailure.isEmpty()) << qPrintable(s_proxyFailure);
    m_client.SetProxy("127.0.0.1:" + QByteArray::number(s_proxy->port()));
    QList<QByteArray> commands;
    m_client.OnCommand = [&](THttpCli*, const QByteArray& line) { commands << line; };
    ASSERT_TRUE(Fetch(Url("/hello.txt?via=proxy")));
    EXPECT_EQ(m_client.StatusCode(), 200);
    EXPECT_EQ(m_log.body, "hello from nginx\n");
    EXPECT_EQ(commands.value(0), "GET " + Url("/hello.txt?via=proxy") + " HTTP/1.0");
    EXPECT_EQ(commands.value(1), "Host: 127.0.0.1:" + QByteArray::number(s_nginx->port()));
    // tinyproxy writes the Host header from the request line, port included: the port of
    // the URL reached the proxy.
    const QByteArray seen =
        "GET /hello.txt?via=proxy HTTP/1.0|127.0.0.1:" + QByteArray::number(s_nginx->port());
    EXPECT_TRUE(Logged().contains(seen)) << Logged().join('\n').constData();
}

TEST_F(RealPeers, NameWithBlanksAndHighBytesIsFoundDirectAndThroughTinyproxy) {
    ASSERT_TRUE(s_proxyFailure.isEmpty()) << qPrintable(s_proxyFailure);
    for (const bool proxied : {false, true}) {
        m_client.SetProxy(proxied ? "127.0.0.1:" + QByteArray::number(s_proxy->port())
                                  : QByteArray());
        m_log.body.clear();
        // The name on disk is UTF-8; the URL carries its bytes.
        ASSERT_TRUE(Fetch(Url("/my song \xc3\xa9.mp3")));
        EXPECT_EQ(m_client.StatusCode(), 200) << proxied;
        EXPECT_EQ(m_log.body, "a song\n") << proxied;
    }
    // Direct and through the proxy the server's Host header names its port.
    const QByteArray line =
        "GET /my%20song%20%C3%A9.mp3 HTTP/1.0|127.0.0.1:" + QByteArray::number(s_nginx->port());
    EXPECT_EQ(Logged().count(line), 2) << Logged().join('\n').constData();
}
