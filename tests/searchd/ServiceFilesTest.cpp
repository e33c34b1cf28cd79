#include "searchd/pages/ServiceFiles.h"
#include "core/DataFileConfig.h"
#include "core/TextHelpers.h"
#include "searchd/index/sqlite/SqliteDatabase.h"

#include <QFile>
#include <gtest/gtest.h>

TEST(ServiceFiles, ShippedDataFileLinesMatchTheDefaultPort) {
    QFile shipped(QStringLiteral(PELLMAR_SOURCE_DIR "/resources/Pellmar.dat.txt"));
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
    QList<QString> lines;
    for (const QByteArray& line : SplitLines(shipped.readAll()))
        lines.append(QString::fromUtf8(line));
    EXPECT_EQ(lines, ServiceFiles::dataFileLines(QStringLiteral("http://127.0.0.1:8790"), 1));
}

TEST(ServiceFiles, VersionFileHasItsFourLines) {
    EXPECT_EQ(ServiceFiles::versionFile(QStringLiteral("http://h:1"), QStringLiteral("3.3"), 7),
              "Version=3.3\r\nDownload=http://h:1/\r\n7\r\nhttp://h:1/Pellmar.dat\r\n");
}

TEST(ServiceFiles, DataFileIsScrambledLinesWithCrLf) {
    const QByteArray file = ServiceFiles::dataFile(QStringLiteral("http://127.0.0.1:8790"), 2);
    const QList<QByteArray> lines = SplitLines(file);
    ASSERT_EQ(lines.size(), 9);
    EXPECT_TRUE(file.endsWith("\r\n"));
    EXPECT_EQ(file.count("\r\n"), 9);
    EXPECT_EQ(DescrambleText(lines[0]), "2");
    EXPECT_EQ(DescrambleText(lines[5]),
              "http://127.0.0.1:8790/audiofind/search?charset=utf-8&words=");
}

TEST(ServiceFiles, AddressWhoseLineCannotBeStoredIsRefused) {
    // Line 5 of this address scrambles into a line break.
    try {
        ServiceFiles::dataFile(QStringLiteral("http://mmmmmmmmmmmmmmmmmm.example:8790"), 1);
        FAIL() << "no error";
    } catch (const ServiceError& error) {
        EXPECT_TRUE(QByteArray(error.what()).startsWith("Line 5 of the data file cannot be"));
    }
}
