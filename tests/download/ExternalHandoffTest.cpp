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

TEST(SmbResumeList, AnswersDecideWhatStaysAndWhatStarts) {
    const QByteArray two = "\\\\h\\s\\a.mp3\t/t/a\r\n\\\\h\\s\\b.mp3\t/t/b c\r\n";
    struct Row {
        const char* name;
        QByteArray before; // nullptr-like: empty with missing = true
        bool missing;
        QList<MessageResult> answers;
        QByteArray after;
        int launches;
    };
    const Row rows[] = {
        {"all answered No", two, false, {MessageResult::No, MessageResult::No}, "", 0},
        {"first Yes",
         two,
         false,
         {MessageResult::Yes, MessageResult::No},
         "\\\\h\\s\\a.mp3\t/t/a\r\n\r\n",
         1},
        {"missing file is created empty", "", true, {}, "", 0},
        {"blank lines asked nothing", "\r\n\r\n", false, {}, "", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempHome home;
        if (!row.missing)
            home.write("download.dat", row.before);
        FakePlatform fake;
        fake.messages.answers = row.answers;
        ResumeSmbDownloads(home.path(), fake.messages, fake.shell);
        EXPECT_TRUE(QFile::exists(home.file("download.dat")));
        EXPECT_EQ(home.read("download.dat"), row.after);
        EXPECT_EQ(fake.messages.shown.size(), row.answers.size());
        EXPECT_EQ(fake.shell.launched.size(), row.launches);
    }
    TempHome home;
    home.write("download.dat", "\\\\h\\s\\a.mp3\t/t/a\tb\r\nno tab\r\n");
    FakePlatform fake;
    fake.messages.answers = {MessageResult::Yes, MessageResult::Yes};
    ResumeSmbDownloads(home.path(), fake.messages, fake.shell);
    ASSERT_EQ(fake.messages.shown.size(), 2);
    EXPECT_EQ(fake.messages.shown[0].text, "Continue to download file: /t/a\tb?");
    EXPECT_EQ(fake.messages.shown[0].icon, MessageIcon::Question);
    EXPECT_EQ(fake.messages.shown[1].text, "Continue to download file: ?");
    ASSERT_EQ(fake.shell.launched.size(), 2);
    EXPECT_EQ(fake.shell.launched[0].first, home.path() + "/Lanpull.exe");
    EXPECT_EQ(fake.shell.launched[0].second, (QStringList{"\\\\h\\s\\a.mp3", "/t/a\tb"}));
    EXPECT_EQ(fake.shell.launched[1].second, (QStringList{"no tab", ""}));
}
