#include "search/LocalSearchService.h"
#include "support/FreePort.h"
#include "support/TempHome.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace {

struct Output {
    int exitCode = -1;
    QStringList lines; // sorted, but the summary stays last
};

// Runs in the program folder of the TempHome alive (PELLMAR_HOME).
Output search(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral(PELLMAR_CLI), QStringList{QStringLiteral("search")} + args);
    process.waitForFinished(60000);
    Output output{
        process.exitCode(),
        QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)};
    if (!output.lines.isEmpty())
        std::sort(output.lines.begin(), output.lines.end() - 1);
    return output;
}

} // namespace

TEST(SearchCommand, PrintsEveryHitAndTheSummary) {
    TempHome home;
    LocalSearchService service;
    WriteDataFile(home.file("Pellmar.dat"), ServiceFiles::dataFileLines(service.base(), 1));
    home.write("Pellmar.ini", "[Options]\r\nMinBitrate=100\r\n");
    const QString files = service.base() + "/files/Jazz/Marla%20Quinn%20-%20";
    const QString ftp = "ftp://anonymous@127.0.0.1:2121/Jazz/Marla Quinn - ";
    const QString smb = "\\\\127.0.0.1\\mp3\\Jazz\\Marla Quinn - ";
    const struct {
        QStringList args;
        int exitCode;
        QStringList lines;
    } rows[] = {
        {{"marla", "--sources", "http,ftp"},
         0,
         {"ftp\tMarla Quinn - Blue Motel.mp3\t80000\t\t1\t" + ftp + "Blue Motel.mp3",
          "ftp\tMarla Quinn - Telephone Wires.mp3\t30001\t\t1\t" + ftp + "Telephone Wires.mp3",
          "ftp\tMarla Quinn - Velvet Underpass.mp3\t24000\t\t1\t" + ftp + "Velvet Underpass.mp3",
          "http\tMarla Quinn - Blue Motel\t80000\t112kb/s 48kHz Stereo\t0\t" + files +
              "Blue%20Motel.mp3",
          "http\tMarla Quinn - Telephone Wires\t30001\t48kb/s 22kHz Stereo\t2\t" + files +
              "Telephone%20Wires.mp3",
          "Done\thttp 2\tsmb 0\tftp 3"}},
        {{"quinn", "--sources", "smb", "--leech"},
         0,
         {"smb\tMarla Quinn - Blue Motel.mp3\t80000\tN/A\t1\t" + smb + "Blue Motel.mp3",
          "smb\tMarla Quinn - Telephone Wires.mp3\t30001\tN/A\t1\t" + smb + "Telephone Wires.mp3",
          "smb\tMarla Quinn - Velvet Underpass.mp3\t24000\tN/A\t1\t" + smb + "Velvet Underpass.mp3",
          "Search aborted\thttp 0\tsmb 3\tftp 0"}},
        {{"marla", "--sources", "gopher"}, 2, {}},
        {{"marla", "--save", home.file("out"), "--marks", "3"}, 2, {}},
        {{"marla", "--marks", "01"}, 2, {}},
        {{}, 2, {}},
        {{""}, 1, {}},
    };
    for (const auto& row : rows) {
        const Output output = search(row.args);
        EXPECT_EQ(output.exitCode, row.exitCode) << row.args.join(' ').toStdString();
        EXPECT_EQ(output.lines, row.lines) << row.args.join(' ').toStdString();
    }
}

namespace {

// The lines of a run that name a file in dir (its save lines), sorted.
QStringList savedLines(const QString& dir, const QStringList& args, int& exitCode) {
    QProcess process;
    process.start(QStringLiteral(PELLMAR_CLI),
                  QStringList{QStringLiteral("search")} + args + QStringList{"--save", dir});
    process.waitForFinished(60000);
    exitCode = process.exitCode();
    QStringList lines =
        QString::fromUtf8(process.readAllStandardOutput()).split('\n').filter("\t" + dir + "/");
    lines.sort();
    return lines;
}

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

} // namespace

TEST(SearchCommand, SavesTheChosenHitsAndSaysHowEachEnded) {
    TempHome home;
    ServiceSettings settings;
    const ClosedPort closed;
    settings.ftpSite = "anonymous@127.0.0.1:" + QByteArray::number(closed.port);
    LocalSearchService service(settings);
    WriteDataFile(home.file("Pellmar.dat"), ServiceFiles::dataFileLines(service.base(), 1));
    home.write("Pellmar.ini", "[Options]\r\nMinBitrate=100\r\n");
    QFile::copy(QFileInfo(PELLMAR_CLI).absolutePath() + "/veskftp.exe", home.file("veskftp.exe"));
    const QString out = home.file("out");
    const QString blue = "Marla Quinn - Blue Motel.mp3";
    const QString wires = "Marla Quinn - Telephone Wires.mp3";
    const QString velvet = "Marla Quinn - Velvet Underpass.mp3";
    const QString failed =
        "veskftp.exe ended with exit code 7: curl: (7) Failed to connect to 127.0.0.1 port " +
        QString::number(closed.port);
    const struct {
        QStringList args;
        int exitCode;
        QStringList lines; // a failure's reason up to its first variable part
    } rows[] = {
        // The hits that meet the quality settings only.
        {{"marla", "--sources", "http"},
         0,
         {"http\tMarla Quinn - Blue Motel\t" + out + "/" + blue + "\tok"}},
        // A name already there gets a number; nothing is written over.
        {{"marla", "--sources", "http", "--marks", "012"},
         0,
         {"http\tMarla Quinn - Blue Motel\t" + out + "/Marla Quinn - Blue Motel (2).mp3\tok",
          "http\tMarla Quinn - Telephone Wires\t" + out + "/" + wires + "\tok"}},
        {{"marla", "--sources", "ftp", "--marks", "2"},
         1,
         {"ftp\t" + blue + "\t" + out + "/" + blue.chopped(4) + " (3).mp3\t" + failed,
          "ftp\t" + wires + "\t" + out + "/" + wires.chopped(4) + " (2).mp3\t" + failed,
          "ftp\t" + velvet + "\t" + out + "/" + velvet + "\t" + failed}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        int exitCode = -1;
        QStringList lines = savedLines(out, row.args, exitCode);
        for (QString& line : lines)
            line = line.left(line.indexOf(" after "));
        EXPECT_EQ(exitCode, row.exitCode);
        EXPECT_EQ(lines.join('\n').toStdString(), row.lines.join('\n').toStdString());
    }
    const QString jazz = service.library() + "/Jazz/";
    EXPECT_EQ(contentOf(out + "/" + blue), contentOf(jazz + blue));
    EXPECT_EQ(contentOf(out + "/Marla Quinn - Blue Motel (2).mp3"), contentOf(jazz + blue));
    EXPECT_EQ(contentOf(out + "/" + wires), contentOf(jazz + wires));
    EXPECT_EQ(QDir(out).count(), 2 + 3); // no file is left by the failed fetches
}
