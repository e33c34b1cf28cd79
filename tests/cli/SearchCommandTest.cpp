#include "search/LocalSearchService.h"
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
        {{}, 2, {}},
        {{""}, 1, {}},
    };
    for (const auto& row : rows) {
        const Output output = search(row.args);
        EXPECT_EQ(output.exitCode, row.exitCode) << row.args.join(' ').toStdString();
        EXPECT_EQ(output.lines, row.lines) << row.args.join(' ').toStdString();
    }
}
