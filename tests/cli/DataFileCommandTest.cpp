#include "core/DataFileConfig.h"
#include "support/TempHome.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace {

struct CliRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

CliRun RunDataFile(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral(PELLMAR_CLI), QStringList{QStringLiteral("datafile")} + args);
    process.waitForFinished(30000);
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

const QByteArray kLines = "1\nhttp://home.example\nx\n0\nhttp://a/?w=\nhttp://b/?w=\ny\n"
                          "http://s/?q=\nhttp://f/?q=\n";

} // namespace

TEST(DataFileCommand, WritesAndDecodesAndRefusesWhatItCannotStore) {
    struct Row {
        const char* name;
        QByteArray lines;
        int exitCode;
        QByteArray err;
    };
    const QList<Row> rows = {
        {"nine lines", kLines, 0, ""},
        {"a zero byte on line 3", QByteArray(kLines).replace("\nx\n", QByteArray("\nx\0z\n", 5)), 1,
         "pellmar-cli datafile: Line 3 of the data file holds a zero character, which cannot "
         "be stored\n"},
        {"a zero byte starting line 1", QByteArray(1, '\0') + kLines.mid(1), 1,
         "pellmar-cli datafile: Line 1 of the data file holds a zero character, which cannot "
         "be stored\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempHome home;
        home.write(QStringLiteral("lines.txt"), row.lines);
        const QString out = home.file(QStringLiteral("Pellmar.dat"));
        const CliRun written =
            RunDataFile({QStringLiteral("-o"), out, home.file(QStringLiteral("lines.txt"))});
        EXPECT_EQ(written.exitCode, row.exitCode);
        EXPECT_EQ(written.err, row.err);
        EXPECT_EQ(QFile::exists(out), row.exitCode == 0);
        if (row.exitCode == 0) {
            const CliRun decoded = RunDataFile({QStringLiteral("--decode"), out});
            EXPECT_EQ(decoded.exitCode, 0);
            EXPECT_EQ(decoded.out, row.lines);
        }
    }
}

// An endless or huge file is refused after the limit instead of read whole.
TEST(DataFileCommand, ReadsNoMoreThanADataFileHolds) {
    const CliRun run = RunDataFile({QStringLiteral("--decode"), QStringLiteral("/dev/zero")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "pellmar-cli datafile: Cannot open file /dev/zero: it is larger than "
                       "1048576 bytes\n");
    EXPECT_TRUE(run.out.isEmpty());
}
