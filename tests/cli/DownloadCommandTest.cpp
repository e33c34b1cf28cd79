#include "support/DownloadHelpers.h"
#include "support/ScriptedServer.h"
#include "support/TempHome.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

struct DownloadRow {
    const char* name;
    QByteArray reply;
    int exitCode;
    QByteArray lines; // standard error without the closing speed line
    bool kept;
};

} // namespace

TEST(DownloadCommand, PrintsEachStatusAndKeepsOnlyACompleteFile) {
    const QByteArray body = PatternBytes(30001, 9);
    const QByteArray steps = "Contacting host\nHost contacted, waiting for reply\nHost Contacted\n";
    const DownloadRow rows[] = {
        {"30001 bytes", OkReply(body, body.size(), "audio/mpeg"), 0, steps + "Receiving data\n",
         true},
        {"30000 bytes", OkReply(body.left(30000), -1, "audio/mpeg"), 1,
         steps + "Receiving data\nFile not saved. Size less than 30 kb\n", false},
        {"html page", OkReply(body, -1, "text/html"), 1, steps + "Sorry, link broken.\n", false},
        {"closed before the announced length", OkReply(body, 90000, "audio/mpeg"), 1,
         steps + "Receiving data\nDownload incomplete\n", true},
    };
    for (const DownloadRow& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server(ScriptedServer::reply(row.reply));
        TempHome home;
        home.write("Pellmar.ini", "[Options]\r\nRetryCount=0\r\n"); // one try each
        QProcess process;
        process.start(PELLMAR_CLI, {"download", server.url("/a.mp3"), "-o", home.file("a.mp3")});
        ASSERT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitCode(), row.exitCode);
        const QByteArray err = process.readAllStandardError();
        EXPECT_TRUE(err.startsWith(row.lines)) << err.constData();
        const QString last = QString::fromUtf8(err.mid(row.lines.size()));
        EXPECT_TRUE(QRegularExpression("^\\d+ bytes in \\d+\\.\\d s, \\d+\\.\\d\\d kb/s\n$")
                        .match(last)
                        .hasMatch())
            << last.toStdString();
        EXPECT_EQ(QFile::exists(home.file("a.mp3")), row.kept);
        if (row.exitCode == 0) {
            EXPECT_EQ(home.read("a.mp3"), body);
        }
    }
}

TEST(DownloadCommand, WrongArgumentsShowTheUsage) {
    QProcess process;
    process.start(PELLMAR_CLI, {"download", "http://127.0.0.1/a.mp3"});
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_EQ(process.readAllStandardError(),
              "usage: pellmar-cli download [--continue] URL -o FILE\n");
}

TEST(DownloadCommand, RetriesAndContinuesAPartialFile) {
    const QByteArray body = PatternBytes(60000, 4);
    const QByteArray partial = "HTTP/1.0 206 Partial Content\r\nContent-Length: 36384\r\n"
                               "Content-Range: bytes 23616-59999/60000\r\n\r\n" +
                               body.mid(23616);
    // A passing error that asks for no wait, then the rest of the 40000 bytes on disk,
    // checked against its last 16384 bytes asked for again.
    ScriptedServer server({ScriptedServer::reply("HTTP/1.0 503 Busy\r\nRetry-After: 0\r\n\r\n"),
                           ScriptedServer::reply(partial)});
    TempHome home;
    home.write("a.mp3", body.left(40000));
    QProcess process;
    process.start(PELLMAR_CLI,
                  {"download", "--continue", server.url("/a.mp3"), "-o", home.file("a.mp3")});
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 0);
    const QByteArray steps = "Host contacted, waiting for reply\nHost Contacted\n";
    EXPECT_TRUE(process.readAllStandardError().startsWith(
        "Contacting host\n" + steps + "Retrying (1 of 5) in 0 s\nContacting host\n" + steps +
        "Receiving data\n"));
    EXPECT_TRUE(home.read("a.mp3") == body);
    ASSERT_EQ(server.requests().size(), 2);
    EXPECT_TRUE(server.requests()[1].contains("\r\nRange: bytes=23616-\r\n\r\n"));
}
