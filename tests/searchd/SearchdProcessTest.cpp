#include "RawHttp.h"
#include "core/DataFileConfig.h"
#include "support/ProcessLines.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

const QString kBinary = QStringLiteral(PELLMAR_SEARCHD_BINARY);

// The resident size of a process in kB, from /proc.
qint64 residentKb(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line; !(line = status.readLine()).isEmpty();)
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

} // namespace

TEST(SearchdProcess, MakesASampleServesOnAFreePortLogsAndStops) {
    TempHome home;
    QProcess sample;
    sample.start(kBinary, {"--make-sample", home.file("lib"), "--count", "12"});
    ASSERT_TRUE(sample.waitForFinished(30000));
    EXPECT_EQ(sample.exitCode(), 0);

    QProcess service;
    service.start(kBinary, {"--library", home.file("lib"), "--port", "0", "--db",
                            home.file("index.db"), "--write-datafile", home.file("Pellmar.dat")});
    ASSERT_TRUE(service.waitForStarted());
    EXPECT_EQ(nextLine(service), "pellmar-searchd: 12 MP3 files in " + home.file("lib").toUtf8() +
                                     " (12 new or changed, 0 gone)");
    EXPECT_EQ(nextLine(service),
              "pellmar-searchd: index: SQLite file " + home.file("index.db").toUtf8());
    EXPECT_EQ(nextLine(service), "pellmar-searchd: wrote " + home.file("Pellmar.dat").toUtf8());
    const QByteArray listening = nextLine(service);
    const auto match =
        QRegularExpression("^pellmar-searchd: listening on http://127\\.0\\.0\\.1:(\\d+)$")
            .match(QString::fromUtf8(listening));
    ASSERT_TRUE(match.hasMatch()) << listening.constData();
    const int port = match.captured(1).toInt();

    DataFileConfig config;
    config.load(home.file("Pellmar.dat"));
    EXPECT_EQ(config.HomeUrl, QStringLiteral("http://127.0.0.1:%1").arg(port));

    const RawResponse version = httpGet(port, "/version2.txt");
    EXPECT_EQ(version.status, 200);
    EXPECT_EQ(httpGet(port, "/files/../x.mp3").status, 400);
    EXPECT_EQ(nextLine(service),
              "127.0.0.1 \"GET /version2.txt\" 200 " + QByteArray::number(version.body.size()));
    EXPECT_EQ(nextLine(service), "127.0.0.1 \"GET /files/../x.mp3\" 400 57");

    service.terminate();
    ASSERT_TRUE(service.waitForFinished(10000));
    EXPECT_EQ(service.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(service.exitCode(), 0);
    EXPECT_EQ(nextLine(service), "pellmar-searchd: stopped");
}

TEST(SearchdProcess, RefusesBadOptions) {
    const QList<QStringList> rows = {{},
                                     {"--library", "/nonexistent/pellmar", "--db", ":memory:"},
                                     {"--library", ".", "--port", "70000"},
                                     {"--library", ".", "--smb-host", "fileserver"},
                                     {"--library", ".", "--newest-version", "3.10"}};
    for (const QStringList& args : rows) {
        QProcess process;
        process.start(kBinary, args);
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_NE(process.exitCode(), 0) << args.join(' ').toStdString();
        EXPECT_TRUE(process.readAllStandardError().startsWith("pellmar-searchd: "));
    }
}

// A body far larger than any request needs is refused before it is sent, and what the
// client sends anyway is never held.
TEST(SearchdProcess, AHugeBodyIsRefusedAtOnceAndNeverHeld) {
    TempHome home;
    QDir(home.path()).mkdir("lib");
    QProcess service;
    service.start(kBinary,
                  {"--library", home.file("lib"), "--port", "0", "--db", home.file("index.db")});
    ASSERT_TRUE(service.waitForStarted());
    QByteArray line;
    for (int i = 0; i < 10 && !line.contains(" listening on "); ++i)
        line = nextLine(service);
    const int port = line.mid(line.lastIndexOf(':') + 1).toInt();
    ASSERT_GT(port, 0) << line.constData();
    ASSERT_EQ(httpGet(port, "/version2.txt").status, 200);
    const qint64 before = residentKb(service.processId());

    const int fd = connectLoopback(port, 5); // the service waits 10 s for a request's bytes
    ASSERT_GE(fd, 0);
    const QByteArray megabyte(1024 * 1024, 'x');
    const QByteArray head = "POST /cgi-bin/httpaddsite?site_info=a HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                            "Content-Length: 1500000000\r\n\r\n";
    ASSERT_EQ(::send(fd, head.constData(), head.size(), MSG_NOSIGNAL), head.size());
    ASSERT_EQ(::send(fd, megabyte.constData(), megabyte.size(), MSG_NOSIGNAL), megabyte.size());
    char answer[64] = {};
    ASSERT_GT(::recv(fd, answer, sizeof answer - 1, 0), 0) << "no answer while the body comes";
    EXPECT_TRUE(QByteArray(answer).startsWith("HTTP/1.1 413 Content Too Large\r\n")) << answer;
    // The client goes on sending; the service drops it, then closes.
    int sent = 1;
    while (sent < 64 && ::send(fd, megabyte.constData(), megabyte.size(), MSG_NOSIGNAL) > 0)
        ++sent;
    ::close(fd);
    EXPECT_LT(residentKb(service.processId()) - before, 16 * 1024) << sent << " MB sent";

    service.terminate();
    ASSERT_TRUE(service.waitForFinished(10000));
}
