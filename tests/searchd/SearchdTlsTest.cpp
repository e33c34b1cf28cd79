#include "RawHttp.h"
#include "core/DataFileConfig.h"
#include "searchd/SearchService.h"
#include "searchd/http/QueryText.h"
#include "searchd/http/TlsContext.h"
#include "searchd/library/SampleLibrary.h"
#include "support/ProcessLines.h"
#include "support/TempHome.h"
#include "support/TestCertificates.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>
#include <thread>

namespace {

const QString kBinary = QStringLiteral(PELLMAR_SEARCHD_BINARY);

// A GET by curl, trusting only the test authority; the answer with its header.
RawResponse curlGet(const QString& ca, const QByteArray& url, const QStringList& extra = {}) {
    QProcess curl;
    curl.start(QStringLiteral("curl"), QStringList{"-s", "-S", "-i", "--http1.1", "--cacert", ca} +
                                           extra + QStringList{QString::fromLatin1(url)});
    curl.waitForFinished(30000);
    return parseResponse(curl.readAllStandardOutput());
}

// The URLs sorted, one a line, for a readable comparison.
std::string lines(const QSet<QByteArray>& urls) {
    QList<QByteArray> sorted = urls.values();
    std::sort(sorted.begin(), sorted.end());
    return sorted.join('\n').toStdString();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(SearchdTls, ServesPagesFilesAndTheDataFileOverHttps) {
    TempHome home;
    TestCertificates certs;
    const QString made = certs.make();
    ASSERT_TRUE(made.isEmpty()) << made.toStdString();
    SampleLibrary::write(home.file("lib"), 12);

    QProcess service;
    service.start(kBinary,
                  {"--library", home.file("lib"), "--port", "0", "--db", home.file("index.db"),
                   "--page-size", "2", "--write-datafile", home.file("Pellmar.dat"), "--tls-cert",
                   certs.path("server.pem"), "--tls-key", certs.path("server.key")});
    ASSERT_TRUE(service.waitForStarted());
    // The scan, perhaps a folder left by an ended service, the data file, then the address.
    QByteArrayList said;
    while (said.size() < 10 && (said.isEmpty() || !said.last().contains(" listening on ")))
        said.append(nextLine(service));
    ASSERT_GE(said.size(), 2);
    EXPECT_EQ(said[said.size() - 2], "pellmar-searchd: wrote " + home.file("Pellmar.dat").toUtf8());
    const auto match =
        QRegularExpression("^pellmar-searchd: listening on https://127\\.0\\.0\\.1:(\\d+)$")
            .match(QString::fromUtf8(said.last()));
    ASSERT_TRUE(match.hasMatch()) << said.join('\n').constData();
    const QByteArray base = "https://127.0.0.1:" + match.captured(1).toLatin1();

    DataFileConfig config;
    config.load(home.file("Pellmar.dat"));
    EXPECT_EQ(config.HomeUrl.toLatin1(), base);
    EXPECT_EQ(config.HttpQueryUrl2.toLatin1(), base + "/audiofind/search?charset=utf-8&words=");
    EXPECT_EQ(config.FtpQueryUrl.toLatin1(), base + "/ftp/search?charset=utf-8&q=");
    const RawResponse dataFile = curlGet(certs.caFile(), base + "/Pellmar.dat");
    EXPECT_EQ(dataFile.status, 200);
    EXPECT_EQ(dataFile.body, home.read("Pellmar.dat"));
    EXPECT_EQ(curlGet(certs.caFile(), base + "/version2.txt").body,
              "Version=" + QByteArray(kPellmarVersion) + "\r\nDownload=" + base + "/\r\n1\r\n" +
                  base + "/Pellmar.dat\r\n");

    // The second engine pages through the files in "Rock/", each page's "next" link and
    // every result link on https.
    QSet<QByteArray> expected;
    for (const auto& file : SampleLibrary::plan(12)) {
        if (file.path.startsWith("Rock/"))
            expected.insert(base + "/files/" + QueryText::encodePath(file.path));
    }
    QSet<QByteArray> seen;
    QByteArray url = base + "/audiofind/search?words=rock";
    int pages = 0;
    for (; !url.isEmpty() && pages < 10; ++pages) {
        const RawResponse page = curlGet(certs.caFile(), url);
        ASSERT_EQ(page.status, 200) << url.constData();
        for (const auto& link : QRegularExpression("<A HREF=([^>]+)>\\d+\\.</A>")
                                    .globalMatch(QString::fromLatin1(page.body)))
            seen.insert(link.captured(1).toLatin1());
        const auto next =
            QRegularExpression("<A HREF=([^>]+)>next</A>").match(QString::fromLatin1(page.body));
        url = next.captured(1).toLatin1();
    }
    EXPECT_EQ(lines(seen), lines(expected));
    EXPECT_EQ(pages, (expected.size() + 1) / 2);
    EXPECT_GE(pages, 2);

    const SampleLibrary::SampleFile first = SampleLibrary::plan(12).front();
    const RawResponse part = curlGet(
        certs.caFile(), base + "/files/" + QueryText::encodePath(first.path), {"-r", "100-1123"});
    EXPECT_EQ(part.status, 206);
    EXPECT_EQ(part.headers.value("content-range"),
              "bytes 100-1123/" + QByteArray::number(first.size));
    EXPECT_EQ(part.body, readFile(home.file("lib/" + first.path)).mid(100, 1024));

    service.terminate();
    ASSERT_TRUE(service.waitForFinished(10000));
    EXPECT_EQ(service.exitCode(), 0);
}

TEST(SearchdTls, RefusesMissingUnreadableAndMismatchedCertificates) {
    TempHome home;
    TestCertificates one;
    TestCertificates two;
    const QString made = one.make() + two.make();
    ASSERT_TRUE(made.isEmpty()) << made.toStdString();
    home.write("empty.pem", "");
    const QString missing = home.file("missing.pem");
    struct Row {
        QStringList tls;
        QString message;
    };
    const QList<Row> rows = {
        {{"--tls-cert", one.path("server.pem")}, "--tls-cert and --tls-key go together"},
        {{"--tls-cert", missing, "--tls-key", one.path("server.key")},
         "TLS certificate file " + missing + " does not exist"},
        {{"--tls-cert", home.path(), "--tls-key", one.path("server.key")},
         "TLS certificate file " + home.path() + " is not a readable file"},
        {{"--tls-cert", home.file("empty.pem"), "--tls-key", one.path("server.key")},
         "TLS certificate file " + home.file("empty.pem") + " holds no PEM certificate"},
        {{"--tls-cert", one.path("server.pem"), "--tls-key", one.path("server.pem")},
         "TLS key file " + one.path("server.pem") + " holds no unencrypted PEM private key"},
        {{"--tls-cert", one.path("server.pem"), "--tls-key", two.path("server.key")},
         "TLS key file " + two.path("server.key") + " does not match the certificate in " +
             one.path("server.pem")},
    };
    for (const Row& row : rows) {
        QProcess process;
        process.start(kBinary,
                      QStringList{"--library", home.path(), "--db", ":memory:", "--port", "0"} +
                          row.tls);
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitCode(), 2) << row.message.toStdString();
        EXPECT_EQ(process.readAllStandardError().toStdString(),
                  "pellmar-searchd: " + row.message.toStdString() + '\n');
        // It never listened, on neither HTTP nor HTTPS.
        EXPECT_EQ(process.readAllStandardOutput().toStdString(), "");
    }
}

// The gate does the handshake: a plain HTTP request and clients that stall in the handshake
// are closed without an answer, while a real client is served meanwhile.
TEST(SearchdTls, DropsPlainHttpAndStalledHandshakesWhileServingOthers) {
    TempHome home;
    TestCertificates certs;
    const QString made = certs.make();
    ASSERT_TRUE(made.isEmpty()) << made.toStdString();
    SampleLibrary::write(home.file("lib"), 4);
    ServiceSettings settings;
    settings.library = home.file("lib");
    settings.database = home.file("searchd.db");
    settings.port = 0;
    settings.logRequests = false;
    settings.idleTimeoutMs = 1500;
    settings.headerTimeoutMs = 3000;
    SearchService service(settings, std::make_shared<const TlsContext>(certs.path("server.pem"),
                                                                       certs.path("server.key")));
    const int port = service.bind();
    std::thread server([&] { service.run(); });

    const int silent = connectLoopback(port, 30);
    const int partialHello = connectLoopback(port, 30);
    ASSERT_EQ(::send(partialHello, "\x16\x03\x01\x02\x00\x01", 6, MSG_NOSIGNAL), 6);
    EXPECT_EQ(sendRaw(port, "GET /version2.txt HTTP/1.0\r\n\r\n", 30), "");
    const RawResponse served =
        curlGet(certs.caFile(), "https://localhost:" + QByteArray::number(port) + "/version2.txt");
    EXPECT_EQ(served.status, 200);
    EXPECT_TRUE(served.body.startsWith("Version=")) << served.raw.constData();
    // A body far past what a request may hold is refused before it is read, whether the
    // client waits for "100 Continue" or sends it at once.
    home.write("body", QByteArray(8 * 1024 * 1024, 'x'));
    for (const QString expect : {"Expect: 100-continue", "Expect:"}) {
        SCOPED_TRACE(expect.toStdString());
        const RawResponse refused = curlGet(
            certs.caFile(), "https://localhost:" + QByteArray::number(port) + "/version2.txt",
            {"--data-binary", "@" + home.file("body"), "-H", expect});
        EXPECT_EQ(refused.status, 413) << refused.raw.constData();
        EXPECT_EQ(refused.body, "413 Payload Too Large\n");
    }
    EXPECT_EQ(readToClose(silent), "");
    EXPECT_EQ(readToClose(partialHello), "");
    ::close(silent);
    ::close(partialHello);

    service.stop();
    server.join();
}
