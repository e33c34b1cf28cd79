#include "support/FreePort.h"
#include "support/HostileTlsServer.h"
#include "support/ScriptedServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

struct CliRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

CliRun RunGet(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral(PELLMAR_CLI), QStringList{QStringLiteral("get")} + args);
    process.waitForFinished(30000);
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

void WriteFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QStringList FolderEntries(const QString& path) {
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                QDir::NoDotAndDotDot);
}

} // namespace

TEST(GetCommand, WritesTheBodyToStandardOutputAndTheStatusToStandardError) {
    ScriptedServer server(ScriptedServer::reply("HTTP/1.0 200 OK\r\n\r\nthe body"));
    const CliRun run = RunGet({QString::fromLatin1(server.url("/a.mp3"))});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "the body");
    EXPECT_EQ(run.err, "200 OK\n");
}

// The file named by -o is replaced only by a good reply; a failed one leaves it as it was,
// and no temporary file behind.
TEST(GetCommand, FileIsReplacedOnlyBySuccess) {
    struct Row {
        QByteArray reply; // empty: nobody listens
        int exitCode;
        QByteArray err;
        QByteArray file;
    };
    const Row rows[] = {
        {"HTTP/1.0 200 OK\r\n\r\nnew body", 0, "200 OK\n", "new body"},
        {"HTTP/1.0 403 Forbidden\r\n\r\nno", 1, "403 Forbidden\n", "precious"},
        {"HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\ncut", 1,
         "200 connection closed before the announced length (3 of 100 bytes)\n", "precious"},
        {"", 1, "404 Connection refused (Error #10061)\n", "precious"},
    };
    for (const Row& row : rows) {
        ScriptedServer server(ScriptedServer::reply(row.reply));
        ClosedPort closed;
        const QString url = row.reply.isEmpty()
                                ? QStringLiteral("http://127.0.0.1:%1/x").arg(closed.port)
                                : QString::fromLatin1(server.url("/x"));
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("out.mp3"));
        WriteFile(target, "precious");
        const QString link = dir.filePath(QStringLiteral("link.mp3"));
        ASSERT_TRUE(QFile::link(target, link));
        for (const QString& named : {target, link}) {
            const CliRun run = RunGet({url, QStringLiteral("-o"), named});
            EXPECT_EQ(run.exitCode, row.exitCode) << row.reply.constData();
            EXPECT_EQ(run.err, row.err);
            EXPECT_EQ(ReadFile(target), row.file);
            EXPECT_EQ(FolderEntries(dir.path()), (QStringList{"link.mp3", "out.mp3"}));
            EXPECT_TRUE(QFileInfo(link).isSymLink());
            WriteFile(target, "precious");
        }
        const QString fresh = dir.filePath(QStringLiteral("new.mp3"));
        RunGet({url, QStringLiteral("-o"), fresh});
        EXPECT_EQ(QFile::exists(fresh), row.exitCode == 0);
    }
}

// A device, a pipe or a folder is never opened for writing, and nothing is asked for; the
// bit bucket stays usable.
TEST(GetCommand, TargetThatIsNoRegularFileIsRefusedBeforeAnyRequest) {
    ScriptedServer server(ScriptedServer::reply("HTTP/1.0 200 OK\r\n\r\nbody"));
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& target : {dir.path(), fifo, QStringLiteral("/dev/zero")}) {
        const CliRun run = RunGet({QString::fromLatin1(server.url("/x")), "-o", target});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err,
                  "pellmar-cli get: cannot write " + target.toUtf8() + ": not a regular file\n");
    }
    EXPECT_EQ(server.connections(), 0);
    const CliRun run =
        RunGet({QString::fromLatin1(server.url("/x")), "-o", QStringLiteral("/dev/null")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "200 OK\n");
    EXPECT_EQ(server.connections(), 1);
}

// A server that keeps the connection open after the whole body does not hold the command.
TEST(GetCommand, CompleteBodyEndsTheCommandWhileTheServerWaits) {
    ScriptedServer server([](ScriptedServer::Connection& c) {
        c.readRequest();
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody");
        c.waitForPeerClose();
    });
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("out.mp3"));
    const CliRun run = RunGet({QString::fromLatin1(server.url("/x")), "-o", target});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(ReadFile(target), "body");
}

// A full disk is named as the system names it, and the user's file stays. The disk is a
// small tmpfs in a private mount namespace (root only).
TEST(GetCommand, FullDiskIsReportedByItsName) {
    const QByteArray header = "HTTP/1.0 200 OK\r\n\r\n";
    for (const int size : {100 * 1024, 1024 * 1024}) {
        ScriptedServer server(ScriptedServer::reply(header + QByteArray(size, 'x')));
        QTemporaryDir dir;
        const QString script = QStringLiteral(
            "mount -t tmpfs -o size=64k tmpfs \"$1\" || exit 77; echo precious > \"$1/out.mp3\"; "
            "\"$2\" get \"$3\" -o \"$1/out.mp3\"; code=$?; cat \"$1/out.mp3\"; ls -A \"$1\"; "
            "exit $code");
        QProcess process;
        process.start(QStringLiteral("unshare"),
                      {"-m", "sh", "-c", script, "sh", dir.path(), QStringLiteral(PELLMAR_CLI),
                       QString::fromLatin1(server.url("/x"))});
        process.waitForFinished(30000);
        const QByteArray err = process.readAllStandardError();
        if (process.exitCode() == 77 || err.startsWith("unshare:"))
            GTEST_SKIP() << "no private mount namespace here";
        EXPECT_EQ(process.exitCode(), 1) << size;
        EXPECT_EQ(err, size > 256 * 1024
                           ? QByteArray("200 Stream write error: No space left on device\n")
                           : "200 OK\npellmar-cli get: cannot write " + dir.path().toUtf8() +
                                 "/out.mp3: No space left on device\n")
            << size;
        EXPECT_EQ(process.readAllStandardOutput(), "precious\nout.mp3\n") << size;
    }
}

// The exit code follows the client's judgement of the reply, not only its status.
TEST(GetCommand, BrokenRepliesFailAndChunkedBodiesAreDecoded) {
    struct Row {
        QByteArray reply;
        int exitCode;
        QByteArray out;
        QByteArray err;
    };
    const Row rows[] = {
        {"HTTP/1.0 200 OK\r\n", 1, "",
         "200 connection closed before the end of the reply header\n"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", 0, "hello",
         "200 OK\n"},
        {"HTTP/1.0 301 Moved\r\nLocation: ftp://127.0.0.1/x\r\n\r\n", 1, "",
         "404 unsupported scheme: ftp\n"},
        // The server's reason phrase reaches the terminal visibly, never as its commands.
        {"HTTP/1.0 200 \x1b]0;TITLE\x07\x1b[41mOK\r\n\r\nbody", 0, "body",
         "200 \\x1B]0;TITLE\\x07\\x1B[41mOK\n"},
        {"HTTP/1.0 200 OK\x9b\xff\r\n\r\nbody", 0, "body", "200 OK\\x9B\xC3\xBF\n"},
        {"HTTP/1.0 200 OK \xE2\x80\xAE"
         "3pm.exe\r\n\r\nbody",
         0, "body", "200 OK \\u202E3pm.exe\n"},
    };
    for (const Row& row : rows) {
        ScriptedServer server(ScriptedServer::reply(row.reply));
        const CliRun run = RunGet({QString::fromLatin1(server.url("/x"))});
        EXPECT_EQ(run.exitCode, row.exitCode) << row.reply.constData();
        EXPECT_EQ(run.out, row.out);
        EXPECT_EQ(run.err, row.err);
    }
}

TEST(GetCommand, BodyCutShortOfItsLengthFails) {
    ScriptedServer server(
        ScriptedServer::reply("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nonly ten.."));
    const CliRun run = RunGet({QString::fromLatin1(server.url("/a.mp3"))});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "only ten..");
    EXPECT_EQ(run.err, "200 connection closed before the announced length (10 of 100 bytes)\n");
}

TEST(GetCommand, GoesThroughTheNamedProxy) {
    ScriptedServer proxy(ScriptedServer::reply("HTTP/1.0 200 OK\r\n\r\nproxied"));
    const CliRun run =
        RunGet({QStringLiteral("http://files.example/a.mp3"), QStringLiteral("--proxy"),
                QStringLiteral("127.0.0.1:%1").arg(proxy.port())});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "proxied");
    EXPECT_EQ(proxy.requests().value(0),
              "GET http://files.example/a.mp3 HTTP/1.0\r\nHost: files.example\r\n\r\n");
}

TEST(GetCommand, FailedConnectionAndBadArguments) {
    EXPECT_EQ(RunGet({}).exitCode, 2);
    EXPECT_EQ(RunGet({QStringLiteral("http://a/"), QStringLiteral("--bogus")}).exitCode, 2);
    const CliRun run = RunGet({QStringLiteral("/no/host")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "pellmar-cli get: DNS lookup: invalid host name.\n");
}

TEST(GetCommand, LargeBodyReachesTheFileByteExact) {
    QByteArray body(3 * 1024 * 1024 + 77, '\0');
    for (qsizetype i = 0; i < body.size(); ++i)
        body[i] = char((i * 7919) % 251);
    ScriptedServer server(ScriptedServer::reply("HTTP/1.0 200 OK\r\n\r\n" + body));
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("big.bin"));
    const CliRun run =
        RunGet({QString::fromLatin1(server.url("/big.bin")), QStringLiteral("-o"), target});
    EXPECT_EQ(run.exitCode, 0);
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll() == body);
}

// https is checked against the system's trust store; --cacert adds a CA, --insecure drops
// the checks and says so. Both go before the command.
TEST(GetCommand, HttpsTrustsTheSystemAndTheNamedCaOnly) {
    TestCertificates certificates;
    QString failure = certificates.make();
    ASSERT_TRUE(failure.isEmpty()) << qPrintable(failure);
    HostileTlsServer server(certificates);
    failure = server.start();
    ASSERT_TRUE(failure.isEmpty()) << qPrintable(failure);
    const QString url = QStringLiteral("https://127.0.0.1:%1/close-check").arg(server.port());
    const QString ca = certificates.caFile();
    const QByteArray warning =
        "pellmar-cli: warning: --insecure: https certificates are not checked; anyone on the way "
        "can read and change the transfer\n";
    const struct {
        QStringList args;
        int exitCode;
        QByteArray out;
        QByteArray err;
    } rows[] = {
        {{"get", url},
         1,
         "",
         "404 certificate of 127.0.0.1 is not trusted (unable to get local issuer certificate)\n"},
        {{"--cacert", ca, "get", url}, 0, "hello", "200 OK\n"},
        {{"get", url, "--cacert", ca}, 0, "hello", "200 OK\n"},
        {{"--insecure", "get", url}, 0, "hello", warning + "200 OK\n"},
        {{"--cacert", certificates.path("none.pem"), "get", url},
         1,
         "",
         "404 cannot load the CA file " + QFile::encodeName(certificates.path("none.pem")) + "\n"},
        {{"get", url, "--cacert"}, 2, "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        QProcess process;
        process.start(QStringLiteral(PELLMAR_CLI), row.args);
        ASSERT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitCode(), row.exitCode);
        EXPECT_EQ(process.readAllStandardOutput(), row.out);
        const QByteArray err = process.readAllStandardError();
        EXPECT_EQ(row.exitCode == 2 ? QByteArray() : err, row.err);
    }
}
