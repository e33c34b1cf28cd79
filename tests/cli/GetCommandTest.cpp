#include "support/ScriptedServer.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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

} // namespace

TEST(GetCommand, WritesTheBodyToStandardOutputAndTheStatusToStandardError) {
    ScriptedServer server(ScriptedServer::reply("HTTP/1.0 200 OK\r\n\r\nthe body"));
    const CliRun run = RunGet({QString::fromLatin1(server.url("/a.mp3"))});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "the body");
    EXPECT_EQ(run.err, "200 OK\n");
}

TEST(GetCommand, WritesTheBodyToAFileAndFailsFromStatus400) {
    ScriptedServer server(ScriptedServer::reply("HTTP/1.0 403 Forbidden\r\n\r\nno"));
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("out.bin"));
    const CliRun run =
        RunGet({QString::fromLatin1(server.url("/x")), QStringLiteral("-o"), target});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "403 Forbidden\n");
    EXPECT_TRUE(QFile::exists(target));
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
