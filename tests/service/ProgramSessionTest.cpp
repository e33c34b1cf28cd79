#include "service/ProgramSession.h"
#include "platform/SettingsFile.h"
#include "support/FakePlatform.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QFile>
#include <gtest/gtest.h>

namespace {

const QString kMail = QStringLiteral(
    "mailto:?subject=Check out Pellmar!&body=The easiest way to find mp3 files on the net. "
    "It's freeware! You can download it from http://home.example");

// The start and close rules without a window: a program folder, a settings file and the
// recording doubles.
struct SessionRun {
    TempHome home;
    FakePlatform fake;
    SettingsFile ini{home.file(QStringLiteral("settings.ini"))};

    ProgramSession session(int draw = 5) {
        return ProgramSession(fake.platform, ini, [draw](int range) {
            EXPECT_EQ(range, 20);
            return draw;
        });
    }
    std::string iniText() const { return home.read(QStringLiteral("settings.ini")).toStdString(); }
};

} // namespace

TEST(ProgramSession, TheRegistryRecordNamesTheRunningBinary) {
    SessionRun run;
    run.session().RecordInRegistry();
    const QString exe = QCoreApplication::applicationFilePath();
    EXPECT_EQ(run.fake.registry.values,
              (QMap<QString, QString>{
                  {QStringLiteral("Software\\Pellmar\\Version|Module Name"), exe},
                  {QStringLiteral("Software\\Pellmar\\Version|revision"), QStringLiteral("3.2")},
                  {QStringLiteral("Software\\VB and VBA Program Settings\\Tunebin\\Startup|vesk"),
                   exe}}));
}

// Only a "Pellmar.ini" found at the start allows the question; a draw of 0 asks it.
TEST(ProgramSession, TheTellAFriendQuestionComesOneStartInTwentyAfterTheFirst) {
    struct Row {
        const char* name;
        bool fixedIni;
        int draw;
        std::optional<MessageResult> answer;
        QStringList opened;
    };
    const Row rows[] = {
        {"first start, draw 0", false, 0, {}, {}},
        {"later start, draw 1", true, 1, {}, {}},
        {"later start, draw 19", true, 19, {}, {}},
        {"later start, Yes", true, 0, MessageResult::Yes, {kMail}},
        {"later start, No", true, 0, MessageResult::No, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SessionRun run;
        if (row.fixedIni)
            run.home.write(QStringLiteral("Pellmar.ini"), "[Options]\r\nFirstTime=0\r\n");
        ProgramSession session = run.session(row.draw);
        if (row.answer)
            run.fake.messages.answers = {*row.answer};
        session.AskTellAFriend(QStringLiteral("http://home.example"));
        ASSERT_EQ(run.fake.messages.shown.size(), row.answer ? 1 : 0);
        if (row.answer) {
            const RecordedMessage& question = run.fake.messages.shown[0];
            EXPECT_EQ(question.caption, QStringLiteral("Pellmar"));
            EXPECT_EQ(question.text, QStringLiteral("Do you know anyone who would like Pellmar?"));
            EXPECT_EQ(question.icon, MessageIcon::Warning);
            EXPECT_EQ(question.buttons, MessageButtons::YesNo);
        }
        EXPECT_EQ(run.fake.shell.opened, row.opened);
    }
}

// The settings file of the program's own name is not the fixed name, and a file written
// after the start does not count for this start.
TEST(ProgramSession, OnlyAFixedNameFoundAtTheStartCounts) {
    SessionRun run;
    run.ini.writeString(QStringLiteral("Options"), QStringLiteral("FirstTime"),
                        QStringLiteral("0"));
    ProgramSession session = run.session(0);
    run.home.write(QStringLiteral("Pellmar.ini"), "[Options]\r\nFirstTime=0\r\n");
    session.AskTellAFriend(QStringLiteral("http://home.example"));
    EXPECT_TRUE(run.fake.messages.shown.isEmpty());
}

TEST(ProgramSession, PlacementAndSourcesOfTheSettings) {
    struct Row {
        const char* name;
        QByteArray settings;
        bool maximized;
        QList<int> rect;
        QList<bool> sources;
    };
    const Row rows[] = {
        {"no settings file", "", true, {0, 0, 0, 0}, {true, true, true}},
        {"first time",
         "[Options]\r\nFirstTime=1\r\n[WinPos]\r\nLeft=5\r\nWidth=700\r\n",
         true,
         {0, 0, 0, 0},
         {true, true, true}},
        {"a flag holding True reads as on",
         "[Options]\r\nFirstTime=True\r\n",
         true,
         {0, 0, 0, 0},
         {true, true, true}},
        {"closed maximized",
         "[Options]\r\nFirstTime=0\r\n[WinPos]\r\nLeft=5\r\nTop=6\r\nWidth=-1\r\nHeight=7\r\n",
         true,
         {0, 0, 0, 0},
         {true, true, true}},
        {"placed",
         "[Options]\r\nFirstTime=0\r\nSearchFtp=0\r\nSearchSMB=x\r\n[WinPos]\r\nLeft=10\r\n"
         "Top=20\r\nWidth=0x384\r\nHeight=700\r\n",
         false,
         {10, 20, 900, 700},
         {true, false, true}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SessionRun run;
        run.home.write(QStringLiteral("settings.ini"), row.settings);
        const ProgramSession session = run.session();
        const WindowPlacement placement = session.ReadPlacement();
        EXPECT_EQ(placement.maximized, row.maximized);
        EXPECT_EQ((QList<int>{placement.left, placement.top, placement.width, placement.height}),
                  row.rect);
        const SavedSources sources = session.ReadSources();
        EXPECT_EQ((QList<bool>{sources.http, sources.ftp, sources.smb}), row.sources);
    }
}

TEST(ProgramSession, TheCloseWritesSourcesFirstTimeAndPlacementInOrder) {
    struct Row {
        bool maximized;
        const char* width;
    };
    for (const Row& row : {Row{false, "820"}, Row{true, "-1"}}) {
        SessionRun run;
        ProgramSession session = run.session();
        session.SaveOnClose({true, false, true}, {row.maximized, 30, -40, 820, 610});
        EXPECT_EQ(run.iniText(), std::string("[Options]\r\nSearchHttp=1\r\nSearchFtp=0\r\n"
                                             "SearchSMB=1\r\nFirstTime=0\r\n\r\n[WinPos]\r\n"
                                             "Left=30\r\nTop=-40\r\nWidth=") +
                                     row.width + "\r\nHeight=610\r\n");
        const WindowPlacement back = run.session().ReadPlacement();
        EXPECT_EQ(back.maximized, row.maximized);
    }
}

TEST(ProgramSession, TheCloseAsksOnlyWhileDownloadsAreActive) {
    struct Row {
        qsizetype active;
        std::optional<MessageResult> answer;
        bool closes;
    };
    for (const Row& row :
         {Row{0, {}, true}, Row{1, MessageResult::No, false}, Row{3, MessageResult::Yes, true}}) {
        SCOPED_TRACE(row.active);
        SessionRun run;
        if (row.answer)
            run.fake.messages.answers = {*row.answer};
        EXPECT_EQ(run.session().MayClose(row.active), row.closes);
        ASSERT_EQ(run.fake.messages.shown.size(), row.answer ? 1 : 0);
        if (row.answer) {
            const RecordedMessage& question = run.fake.messages.shown[0];
            EXPECT_EQ(question.caption, QStringLiteral("Warning"));
            EXPECT_EQ(question.text,
                      QStringLiteral("Downloads in progress. Are you sure you want to quit?"));
            EXPECT_EQ(question.icon, MessageIcon::Warning);
            EXPECT_EQ(question.buttons, MessageButtons::YesNo);
        }
    }
}

TEST(ProgramSession, TheCloseRemovesOnlyTheTemporaryProbeFiles) {
    SessionRun run;
    for (const char* name :
         {"temp/1.tmp", "temp/22.tmp", "temp/ftp.txt", "temp/a.tmp.mp3", "keep.tmp"})
        run.home.write(QString::fromLatin1(name), "x");
    run.session().RemoveTempFiles();
    for (const char* name : {"temp/1.tmp", "temp/22.tmp"})
        EXPECT_FALSE(QFile::exists(run.home.file(QString::fromLatin1(name)))) << name;
    for (const char* name : {"temp/ftp.txt", "temp/a.tmp.mp3", "keep.tmp"})
        EXPECT_TRUE(QFile::exists(run.home.file(QString::fromLatin1(name)))) << name;
}

TEST(ProgramSession, TheBannerProxyAtStartAndTheMistypedPortMessage) {
    struct Row {
        QByteArray options;
        std::optional<QString> host;
        int port;
        QString message;
    };
    const Row rows[] = {
        {"", std::nullopt, 80, {}},
        {"UseProxy=true\r\nProxyServer=proxy.example\r\n", std::nullopt, 80, {}},
        {"UseProxy=True\r\nProxyServer=proxy.example\r\nProxyPort=3128\r\n",
         QStringLiteral("proxy.example"),
         3128,
         {}},
        {"UseProxy=True\r\nProxyServer=proxy.example\r\nProxyPort=80a\r\n", std::nullopt, 80,
         QStringLiteral("The proxy port \"80a\" is not a number, so Pellmar connects without a "
                        "proxy. Correct the port in Options.")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.options.constData());
        SessionRun run;
        run.home.write(QStringLiteral("settings.ini"), "[Options]\r\n" + row.options);
        const UserOptions::StartupProxy proxy = run.session().BannerProxyAtStart();
        EXPECT_EQ(proxy.host, row.host);
        EXPECT_EQ(proxy.port, row.port);
        ASSERT_EQ(run.fake.messages.shown.size(), row.message.isEmpty() ? 0 : 1);
        if (!row.message.isEmpty()) {
            EXPECT_EQ(run.fake.messages.shown[0].caption, QStringLiteral("Pellmar"));
            EXPECT_EQ(run.fake.messages.shown[0].text, row.message);
            EXPECT_EQ(run.fake.messages.shown[0].icon, MessageIcon::Warning);
        }
    }
}
