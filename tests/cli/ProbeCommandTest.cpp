#include "support/CorpusVerdicts.h"
#include "support/TempHome.h"
#include "support/TestSeed.h"

#include <QJsonDocument>
#include <QJsonObject>

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
        {"1", "ok\t8\t8000\tMono\tCBR\tunknown", 1},
        {"0", "Invalid Header\t\t\t\t\t", 1},
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
                      "\tok\t128\t44100\tJoint Stereo\tCBR\tunknown\n" + files[2] +
                      "\tCannot open file " + files[2] + "\t\t\t\t\t\n");
    }
}

// Files made by lame: their average rate, duration and mode as ffprobe finds them, and no
// honest file called a transcode.
TEST(ProbeCommand, JudgesRealFilesAsFfprobeDoes) {
    const TestSeed seed(26);
    const Mp3Corpus::Corpus corpus(seed.value());
    ASSERT_TRUE(corpus.ok()) << corpus.error().toStdString();
    QStringList paths;
    for (const auto& file : corpus.files())
        paths << file.path;
    QProcess process;
    process.start(QStringLiteral(PELLMAR_CLI), QStringList{"probe", "--json"} + paths);
    ASSERT_TRUE(process.waitForFinished(120000));
    const QList<QByteArray> lines = process.readAllStandardOutput().trimmed().split('\n');
    ASSERT_EQ(lines.size(), corpus.files().size());
    CorpusVerdicts verdicts;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QJsonObject probe = QJsonDocument::fromJson(lines[i]).object();
        EXPECT_TRUE(probe.value("ok").toBool()) << lines[i].toStdString();
        verdicts.check(corpus.files()[i], probe);
    }
    verdicts.expectMostTranscodesCaught();
}
