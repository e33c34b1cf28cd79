#include "support/TempHome.h"

#include <QProcess>
#include <gtest/gtest.h>

TEST(ProbeCommand, PrintsOneLinePerFileAndFollowsSkipId3Tags) {
    TempHome home;
    const QByteArray tag = QByteArray("ID3\x04\x00\x00\x00\x00\x00\x02", 10) + "xx";
    home.write(QStringLiteral("tagged.mp3"), tag + QByteArray("\xFF\xE3\x18\xC4", 4));
    home.write(QStringLiteral("plain.mp3"), QByteArray("\xFF\xFB\x90\x64", 4));
    const QStringList files = {home.file("tagged.mp3"), home.file("plain.mp3"),
                               home.file("none.mp3")};
    const struct {
        const char* skipId3Tags;
        const char* tagged;
        int exitCode;
    } rows[] = {
        {"1", "ok\t8\t8000\tMono", 1},
        {"0", "Invalid Header\t\t\t", 1},
    };
    for (const auto& row : rows) {
        home.write(QStringLiteral("Pellmar.ini"),
                   QByteArray("[Options]\nSkipId3Tags=") + row.skipId3Tags);
        QProcess process;
        process.start(QStringLiteral(PELLMAR_CLI), QStringList{QStringLiteral("probe")} + files);
        ASSERT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitCode(), row.exitCode);
        EXPECT_EQ(QString::fromLocal8Bit(process.readAllStandardOutput()),
                  files[0] + "\t" + row.tagged + "\n" + files[1] +
                      "\tok\t128\t44100\tJoint Stereo\n" + files[2] + "\tCannot open file " +
                      files[2] + "\t\t\t\n");
    }
}
