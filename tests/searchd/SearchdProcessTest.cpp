#include "RawHttp.h"
#include "core/DataFileConfig.h"
#include "support/ProcessLines.h"
#include "support/TempHome.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

const QString kBinary = QStringLiteral(PELLMAR_SEARCHD_BINARY);

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
