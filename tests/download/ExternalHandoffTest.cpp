#include "download/ExternalHandoff.h"
#include "download/SmbResumeList.h"
#include "platform/Errors.h"
#include "platform/SettingsFile.h"
#include "support/FakePlatform.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

using namespace ExternalHandoff;

TEST(ExternalHandoff, SmbFetchGetsTheUncPathAndTheTargetWithoutItsExtension) {
    const QList<QByteArray> store = {"OTHER\t\\x\\\tb.mp3\t1", "H\t\\music\\\ta.mp3\t2 MB"};
    const std::pair<QString, QString> rows[] = {
        {"/home/u/mp3/a.mp3", "/home/u/mp3/a"},
        {"/home/u/mp3/a.mp3.mp3", "/home/u/mp3/a.mp3"},
        {"/home/u/a.mp3s/a", "/home/u/a.mp3s/a"}, // only a final extension goes
    };
    for (const auto& [target, handed] : rows) {
        const std::optional<Launch> launch = SmbFetch(store, 1, target, "/prog");
        ASSERT_TRUE(launch);
        EXPECT_EQ(launch->program, "/prog/Lanpull.exe");
        EXPECT_EQ(launch->args, (QStringList{"\\\\H\\music\\a.mp3", handed}));
        EXPECT_EQ(launch->clipboard, "");
    }
    EXPECT_THROW(SmbFetch(store, 2, "/t/a", "/prog"), EListError);
}

TEST(ExternalHandoff, FtpUrlFromHostRecordFolderAndFile) {
    struct Row {
        const char* name;
        QList<QByteArray> store;
        const char* hit;
        const char* url; // nullptr: no record qualifies
    };
    const Row rows[] = {
        {"login and host, folder with a final slash",
         {"login@H\t/pub/\ta.mp3\t3 MB"},
         "a.mp3",
         "ftp://login@H/pub/a.mp3"},
        {"folder without a final slash",
         {"login@H\t/pub\ta.mp3\t3 MB"},
         "a.mp3",
         "ftp://login@H/pub/a.mp3"},
        {"mail address as password",
         {"anon@mail.example@H\t/pub/\ta.mp3"},
         "a.mp3",
         "ftp://H/pub/a.mp3"},
        {"host from the record above",
         {"u@H\t/x/\tother.mp3", "-\t/pub\tb.mp3"},
         "b.mp3",
         "ftp://u@H/pub/b.mp3"},
        {"first record without a host is passed over",
         {"-\t/a\tsong.mp3", "u@H\t/b/\tsong.mp3"},
         "song",
         "ftp://u@H/b/song.mp3"},
        {"the record of exactly this file wins",
         {"u@H\t/a/\taa.mp3", "-\t/b/\ta.mp3"},
         "a.mp3",
         "ftp://u@H/b/a.mp3"},
        {"no host anywhere", {"-\t/a\tsong.mp3"}, "song", nullptr},
        {"no record holds the name", {"u@H\t/a\tsong.mp3"}, "tune", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::optional<QByteArray> url = FtpHitUrl(row.store, row.hit);
        if (row.url) {
            EXPECT_EQ(url, QByteArray(row.url));
        } else {
            EXPECT_FALSE(url);
        }
    }
}

TEST(ExternalHandoff, FtpClientsGetTheirArgumentVectors) {
    const QList<QByteArray> store = {"login@H\t/pub\ta.mp3"};
    struct Row {
        QString target;
        bool useFtp;
        Launch expected;
    };
    const QString url = "ftp://login@H/pub/a.mp3";
    const QString quoted = "\"" + url + "\"";
    const Row rows[] = {
        {"/t/a.mp3", false, {"/prog/veskftp.exe", {url, "/t/a.mp3"}, quoted}},
        {"/t/a.mp3.mp3", false, {"/prog/veskftp.exe", {url, "/t/a.mp3"}, quoted}},
        {"/t/a", false, {"/prog/veskftp.exe", {url, "/t/a.mp3"}, quoted}},
        {"/t/a.mp3", true, {"/usr/bin/myftp", {url}, url}}, // the target is not passed
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.target.toStdString());
        const std::optional<Launch> launch =
            FtpFetch(store, "a.mp3", row.target, row.useFtp, "/usr/bin/myftp", "/prog");
        ASSERT_TRUE(launch);
        EXPECT_EQ(launch->program, row.expected.program);
        EXPECT_EQ(launch->args, row.expected.args);
        EXPECT_EQ(launch->clipboard, row.expected.clipboard);
    }
}

TEST(ExternalHandoff, FailedFtpClientStartIsReportedWithTheUrlOnTheClipboard) {
    TempHome home;
    SettingsFile ini(home.file("Pellmar.ini"));
    ini.writeString("Options", "UseFtp", "1");
    FakePlatform fake;
    fake.shell.launchSucceeds = false;
    FetchFtpHit(ini, fake.platform, {"u@H\t/p/\ta.mp3"}, "a.mp3", "/t/a.mp3", "/prog");
    ASSERT_EQ(fake.messages.shown.size(), 1);
    EXPECT_EQ(fake.messages.shown[0].text, QString::fromUtf8("Couldn\xC2\xB4t execute FTP-client"));
    EXPECT_EQ(fake.clipboard.content, "ftp://u@H/p/a.mp3");
    EXPECT_EQ(fake.shell.launched[0].first, ""); // "FtpPath" empty

    FetchFtpHit(ini, fake.platform, {"-\t/p/\ta.mp3"}, "a.mp3", "/t/a.mp3", "/prog");
    EXPECT_EQ(fake.messages.shown.size(), 1); // no record qualifies: nothing reported
}

// The maker's FTP client and the SMB fetch program are watched: a fetch that did not bring
// its file is reported with what the program said.
TEST(ExternalHandoff, FetchesThatEndWithoutTheirFileAreReported) {
    const struct {
        ProgramEnd end;
        QString ftpBox; // empty: none
        QString smbBox;
    } rows[] = {
        {{true, false, 0, ""}, "", ""},
        {{true, false, 7, "curl: (7) Failed to connect"},
         "ftp://u@H/p/a.mp3 was not saved as /t/a.mp3.\rveskftp.exe ended with exit code 7: "
         "curl: (7) Failed to connect",
         "\\\\H\\m\\a.mp3 was not saved as /t/a.mp3.\rLanpull.exe ended with exit code 7: curl: "
         "(7) Failed to connect"},
        {{true, true, 0, ""},
         "ftp://u@H/p/a.mp3 was not saved as /t/a.mp3.\rveskftp.exe crashed.",
         "\\\\H\\m\\a.mp3 was not saved as /t/a.mp3.\rLanpull.exe crashed."},
        {{false, false, 0, ""},
         QString::fromUtf8("Couldn\xC2\xB4t execute FTP-client"),
         "\\\\H\\m\\a.mp3 was not saved as /t/a.mp3.\r/prog/Lanpull.exe could not be started."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.smbBox.toStdString());
        TempHome home;
        SettingsFile ini(home.file("Pellmar.ini"));
        FakePlatform fake;
        QList<bool> saved;
        FetchFtpHit(ini, fake.platform, {"u@H\t/p/\ta.mp3"}, "a.mp3", "/t/a", "/prog",
                    [&](bool ok) { saved << ok; });
        FetchSmbHit(fake.platform, {"H\t\\m\\\ta.mp3"}, 0, "/t/a.mp3", "/prog",
                    [&](bool ok) { saved << ok; });
        EXPECT_EQ(fake.clipboard.content, "\"ftp://u@H/p/a.mp3\"");
        EXPECT_TRUE(fake.messages.shown.isEmpty()); // nothing before the programs end
        fake.shell.end(0, row.end);
        fake.shell.end(1, row.end);
        QStringList shown;
        for (const RecordedMessage& message : fake.messages.shown)
            shown << message.text;
        QStringList expected;
        for (const QString& box : {row.ftpBox, row.smbBox})
            if (!box.isEmpty())
                expected << box;
        EXPECT_EQ(shown, expected);
        EXPECT_EQ(saved, QList<bool>(2, row.end.ok()));
    }
}

namespace {

// Message boxes that let something happen while the first box is open, as its event loop would.
struct NestingBoxes : FakeMessageBoxes {
    std::function<void()> whileOpen;
    MessageResult show(const QString& caption, const QString& text, MessageIcon icon,
                       MessageButtons buttons) override {
        FakeMessageBoxes::show(caption, text, icon, buttons);
        if (whileOpen)
            std::exchange(whileOpen, {})();
        return MessageResult::Ok;
    }
};

} // namespace

// Fetches that fail while a failure box is open share one more box instead of stacking theirs.
TEST(ExternalHandoff, FailuresDuringAnOpenBoxShareTheNextOne) {
    NestingBoxes boxes;
    FakeShell shell;
    for (int i = 0; i < 8; ++i)
        StartWatched(shell, boxes,
                     SmbResume("\\\\H\\m\\" + QString::number(i), "/t/" + QString::number(i), "/p"),
                     "/t/" + QString::number(i) + ".mp3");
    const ProgramEnd failed{true, false, 1, ""};
    boxes.whileOpen = [&] {
        for (int i = 1; i < 8; ++i)
            shell.end(i, i == 4 ? ProgramEnd{true, false, 0, ""} : failed);
    };
    shell.end(0, failed);
    ASSERT_EQ(boxes.shown.size(), 2);
    const auto failure = [](int i) {
        return QString(
                   "\\\\H\\m\\%1 was not saved as /t/%1.mp3.\rLanpull.exe ended with exit code 1.")
            .arg(i);
    };
    EXPECT_EQ(boxes.shown[0].text, failure(0));
    EXPECT_EQ(boxes.shown[1].text, "6 fetches were not saved.\r\r" + failure(1) + "\r\r" +
                                       failure(2) + "\r\r" + failure(3) + "\r\r" + failure(5) +
                                       "\r\r" + failure(6) + "\r\r... and 1 more.");
}

TEST(ExternalHandoff, GoZillaFromTheRegistryOrTheQuestion) {
    struct Row {
        QString registered;
        MessageResult answer;
        QStringList opened;
        bool closed;
    };
    const Row rows[] = {
        {"/opt/gozilla/gozilla", MessageResult::No, {}, false},
        {"", MessageResult::No, {}, false},
        {"", MessageResult::Yes, {kGoZillaSite}, true},
    };
    for (const Row& row : rows) {
        FakePlatform fake;
        if (!row.registered.isEmpty())
            fake.registry.setValue(kGoZillaKey, "Module Name", row.registered);
        fake.messages.answers = {row.answer};
        bool closed = false;
        GoZillaHandoff(fake.platform, "http://h/a b.mp3", [&] { closed = true; });
        EXPECT_EQ(FindGoZilla(fake.registry), row.registered);
        if (row.registered.isEmpty()) {
            ASSERT_EQ(fake.messages.shown.size(), 1);
            EXPECT_EQ(fake.messages.shown[0].caption, "Confirm");
            EXPECT_EQ(fake.messages.shown[0].text,
                      "Couldn't find Go!Zilla, please install the latest version. Do you want "
                      "to get it now?");
            EXPECT_TRUE(fake.shell.launched.isEmpty());
        } else {
            ASSERT_EQ(fake.shell.launched.size(), 1);
            EXPECT_EQ(fake.shell.launched[0].first, row.registered);
            EXPECT_EQ(fake.shell.launched[0].second, QStringList{"http://h/a b.mp3"});
        }
        EXPECT_EQ(fake.shell.opened, row.opened);
        EXPECT_EQ(closed, row.closed);
    }
}

namespace {

// Answers the one question from a script and records what it was asked.
struct ScriptedChoice : IResumeChoice {
    std::optional<QList<qsizetype>> answer;
    QStringList asked;
    std::optional<QList<qsizetype>> choose(const QString& question,
                                           const QStringList& targets) override {
        asked = QStringList{question} + targets;
        return answer;
    }
};

} // namespace

// One question for the whole list: duplicates are merged, lines that are not a UNC path and a
// target are dropped, the chosen lines stay and start again, the others go with their partial
// files; a question closed unanswered changes nothing.
TEST(SmbResumeList, OneQuestionDecidesWhatStaysAndWhatStarts) {
    const QByteArray a = "\\\\h\\s\\a.mp3\t/t/a\r\n";
    const QByteArray b = "\\\\h\\s\\b.mp3\t/t/b c\tx\r\n";
    const QByteArray listed = a + "no tab\r\n\r\n" + b + a + "\\\\h\t/t/h\r\n" +
                              "\\\\h\\s\\c.mp3\t\r\nC:\\x.mp3\t/t/x\r\n" + b;
    const QString both = "Continue to download these 2 files?";
    struct Row {
        const char* name;
        QByteArray before;
        std::optional<QList<qsizetype>> answer;
        QStringList asked;
        QByteArray after;
        QStringList started;
    };
    const Row rows[] = {
        {"resume all",
         listed,
         QList<qsizetype>{0, 1},
         {both, "/t/a", "/t/b c\tx"},
         a + b,
         {"/t/a", "/t/b c\tx"}},
        {"resume one", listed, QList<qsizetype>{1}, {both, "/t/a", "/t/b c\tx"}, b, {"/t/b c\tx"}},
        {"forget all", listed, QList<qsizetype>{}, {both, "/t/a", "/t/b c\tx"}, "", {}},
        {"closed unanswered", listed, std::nullopt, {both, "/t/a", "/t/b c\tx"}, listed, {}},
        {"one line",
         a + a,
         QList<qsizetype>{0},
         {"Continue to download file: /t/a?", "/t/a"},
         a,
         {"/t/a"}},
        {"nothing to resume", "no tab\r\n\r\n", std::nullopt, {}, "", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempHome home;
        home.write("download.dat", row.before);
        FakePlatform fake;
        ScriptedChoice choice;
        choice.answer = row.answer;
        ResumeSmbDownloads(home.path(), choice, fake.shell, fake.messages);
        EXPECT_EQ(choice.asked, row.asked);
        EXPECT_EQ(home.read("download.dat"), row.after);
        QStringList started;
        for (const auto& [program, args] : fake.shell.launched) {
            EXPECT_EQ(program, home.path() + "/Lanpull.exe");
            started << args.value(1);
        }
        EXPECT_EQ(started, row.started);
    }
}

TEST(SmbResumeList, ForgottenFetchesTakeTheirPartialFilesAlongAndFailuresAreReported) {
    TempHome home;
    const QString a = home.file("a");
    const QString b = home.file("b.mp3"); // the fetch program writes b.mp3 for it
    home.write("download.dat",
               "\\\\h\\s\\a.mp3\t" + a.toUtf8() + "\r\n\\\\h\\s\\b.mp3\t" + b.toUtf8() + "\r\n");
    for (const char* file : {"a.mp3", "a.mp3.part", "b.mp3.part"})
        home.write(file, "part");
    FakePlatform fake;
    ScriptedChoice choice;
    choice.answer = QList<qsizetype>{1};
    ResumeSmbDownloads(home.path(), choice, fake.shell, fake.messages);
    EXPECT_EQ(QDir(home.path()).entryList(QDir::Files),
              (QStringList{"a.mp3", "b.mp3.part", "download.dat"}));

    fake.shell.end(0, {true, false, 1, "smbget: Connection refused"});
    ASSERT_EQ(fake.messages.shown.size(), 1);
    EXPECT_EQ(fake.messages.shown[0].text,
              "\\\\h\\s\\b.mp3 was not saved as " + b +
                  ".\rLanpull.exe ended with exit code 1: smbget: Connection refused");
    EXPECT_EQ(fake.messages.shown[0].icon, MessageIcon::Warning);
}

// A stored line of megabytes neither reaches a question whole nor is read whole.
TEST(SmbResumeList, LongLinesAreQuotedShortAndHugeFilesReadOnlyInPart) {
    const QString longTarget = "/t/" + QString(300, 'x');
    TempHome home;
    home.write("download.dat", "\\\\h\\s\\a.mp3\t" + longTarget.toUtf8() + "\r\n" +
                                   "\\\\h\\s\\b.mp3\t/t/" + QByteArray(9000, 'y') + "\r\n" +
                                   "\\\\h\\s\\c.mp3\t/t/c\r\n" + QByteArray(3 << 20, 'z') +
                                   "\r\n\\\\h\\s\\d.mp3\t/t/d\r\n");
    FakePlatform fake;
    ScriptedChoice choice;
    ResumeSmbDownloads(home.path(), choice, fake.shell, fake.messages);
    EXPECT_EQ(choice.asked, (QStringList{"Continue to download these 2 files?",
                                         longTarget.left(200) + "...", "/t/c"}));
}
