#include "platform/Cp1252.h"
#include "platform/Errors.h"
#include "platform/MessageBoxes.h"
#include "platform/ProgramFolder.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "support/EventLoopWait.h"
#include "support/FakePlatform.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <gtest/gtest.h>

TEST(Cp1252, DecodesTheRangeWhereItDiffersFromLatin1) {
    EXPECT_EQ(Cp1252::toUnicode("\x80\x92\xb4\xe9"), QStringLiteral("\u20ac\u2019\u00b4\u00e9"));
    EXPECT_EQ(Cp1252::fromUnicode(QStringLiteral("\u20ac\u2019\u00b4\u00e9")),
              QByteArray("\x80\x92\xb4\xe9"));
    EXPECT_EQ(Cp1252::fromUnicode(QStringLiteral("\u4e2d\U0001F600")), QByteArray("??"));
    EXPECT_EQ(Cp1252::toUtf8FileName("caf\xe9.mp3"), QByteArray("caf\xc3\xa9.mp3"));
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(static_cast<char>(i));
    EXPECT_EQ(Cp1252::fromUnicode(Cp1252::toUnicode(all)), all);
}

TEST(StrToInt, StrictConversionFollowsThePascalRules) {
    EXPECT_EQ(StrToInt(QStringLiteral("128")), 128);
    EXPECT_EQ(StrToInt(QStringLiteral("-1")), -1);
    EXPECT_EQ(StrToInt(QStringLiteral("  +7")), 7);
    EXPECT_EQ(StrToInt(QStringLiteral("$FF")), 255);
    EXPECT_EQ(StrToInt(QStringLiteral("$FFFFFFFF")), -1);
    EXPECT_EQ(StrToInt(QStringLiteral("-2147483648")), -2147483647 - 1);
    for (const char* bad : {"", " ", "-", "12 ", "0x1E", "2147483648", "1.5", "abc", "$"}) {
        try {
            StrToInt(QString::fromLatin1(bad));
            ADD_FAILURE() << bad;
        } catch (const EConvertError& error) {
            EXPECT_EQ(error.message(),
                      QStringLiteral("'%1' is not a valid integer value").arg(QLatin1String(bad)));
        }
    }
}

TEST(ListIndex, MessageNamesTheIndex) {
    try {
        throwListIndexError(8);
    } catch (const EListError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("List index out of bounds (8)"));
    }
}

TEST(Shell, CommandLinesSplitLikeWindowsProgramsReadThem) {
    EXPECT_EQ(splitCommandLine(QStringLiteral("\"ftp://h/a b.mp3\" \"C:\\x y.mp3\"")),
              (QStringList{QStringLiteral("ftp://h/a b.mp3"), QStringLiteral("C:\\x y.mp3")}));
    EXPECT_EQ(splitCommandLine(QStringLiteral("ftp://h/a.mp3")),
              QStringList{QStringLiteral("ftp://h/a.mp3")});
    EXPECT_EQ(splitCommandLine(QStringLiteral("  a   \"\"  b ")),
              (QStringList{QStringLiteral("a"), QString(), QStringLiteral("b")}));
    EXPECT_EQ(
        splitCommandLine(QStringLiteral("x;rm -rf /;$(id)")),
        (QStringList{QStringLiteral("x;rm"), QStringLiteral("-rf"), QStringLiteral("/;$(id)")}));
}

TEST(Shell, LaunchWithClipboardPutsTheArgumentOnTheClipboardFirst) {
    FakePlatform fake;
    EXPECT_TRUE(launchWithClipboard(fake.clipboard, fake.shell, QStringLiteral("/opt/veskftp.exe"),
                                    QStringLiteral("\"ftp://u@h/a.mp3\""),
                                    QStringLiteral(" \"a.mp3\"")));
    EXPECT_EQ(fake.clipboard.content, QStringLiteral("\"ftp://u@h/a.mp3\""));
    ASSERT_EQ(fake.shell.launched.size(), 1);
    EXPECT_EQ(fake.shell.launched[0].first, QStringLiteral("/opt/veskftp.exe"));
    EXPECT_EQ(fake.shell.launched[0].second,
              (QStringList{QStringLiteral("ftp://u@h/a.mp3"), QStringLiteral("a.mp3")}));
    fake.shell.launchSucceeds = false;
    EXPECT_FALSE(launchWithClipboard(fake.clipboard, fake.shell, QStringLiteral("x"),
                                     QStringLiteral("y"), QString()));
}

TEST(Shell, PosixLaunchStartsProgramsWithoutAShell) {
    TempHome home;
    PosixShell shell;
    const QString marker = home.file(QStringLiteral("a;b $(x)"));
    EXPECT_TRUE(shell.launch(QStringLiteral("/usr/bin/touch"), {marker}));
    for (int i = 0; i < 200 && !QFile::exists(marker); ++i)
        QThread::msleep(10);
    EXPECT_TRUE(QFile::exists(marker));
    EXPECT_FALSE(shell.launch(home.file(QStringLiteral("missing-program")), {}));
    EXPECT_FALSE(shell.launch(QString(), {}));
}

// The end of a watched program comes from the event loop, never from within the start.
TEST(Shell, PosixLaunchWatchedReportsHowTheProgramEnded) {
    TempHome home;
    const struct {
        QString program;
        QStringList args;
        bool started;
        bool crashed;
        int exitCode;
        QString said;
    } rows[] = {
        {"/bin/sh",
         {"-c", "printf 'first\\nlast words\\n' >&2; exit 3"},
         true,
         false,
         3,
         "last words"},
        {"/bin/sh", {"-c", "exit 0"}, true, false, 0, ""},
        {"/bin/sh", {"-c", "kill -9 $$"}, true, true, 0, ""},
        {home.file("missing-program"), {}, false, false, 0, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        PosixShell shell;
        QList<ProgramEnd> ends;
        shell.launchWatched(row.program, row.args,
                            [&](const ProgramEnd& end) { ends.append(end); });
        EXPECT_TRUE(ends.isEmpty());
        ASSERT_TRUE(WaitFor([&] { return !ends.isEmpty(); }));
        EXPECT_EQ(ends[0].started, row.started);
        EXPECT_EQ(ends[0].crashed, row.crashed);
        if (!row.crashed) {
            EXPECT_EQ(ends[0].exitCode, row.exitCode);
        }
        EXPECT_EQ(ends[0].said, row.said);
        EXPECT_EQ(ends[0].ok(), row.started && !row.crashed && row.exitCode == 0);
    }
}

TEST(Registry, IniStandInKeepsValuesUnderBackslashKeys) {
    TempHome home;
    const QString file = home.file(QStringLiteral("registry.ini"));
    IniRegistry registry(file);
    registry.setValue(QStringLiteral("Software\\Pellmar\\Version"), QStringLiteral("revision"),
                      QStringLiteral("3.2"));
    EXPECT_EQ(IniRegistry(file).value(QStringLiteral("Software\\Pellmar\\Version"),
                                      QStringLiteral("revision")),
              QStringLiteral("3.2"));
    EXPECT_TRUE(IniRegistry(file)
                    .value(QStringLiteral("\\Software\\Go!Zilla\\Version"), QStringLiteral("x"))
                    .isEmpty());
}

TEST(ProgramFolder, HomeOverridesTheBinaryFolder) {
    TempHome home;
    EXPECT_EQ(ProgramFolder::path(), home.path());
    EXPECT_EQ(ProgramFolder::file(QStringLiteral("Pellmar.dat")),
              home.path() + QStringLiteral("/Pellmar.dat"));
    EXPECT_EQ(ProgramFolder::executablePath(), QCoreApplication::applicationFilePath());
    EXPECT_TRUE(QFileInfo(ProgramFolder::executablePath()).isExecutable());
}

TEST(MessageBoxes, GeneralErrorBoxShowsTheMessageUnderTheProgramsTitle) {
    FakeMessageBoxes boxes;
    showGeneralError(boxes, QStringLiteral("'abc' is not a valid integer value"));
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Pellmar"));
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("'abc' is not a valid integer value"));
    EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Error);
}
