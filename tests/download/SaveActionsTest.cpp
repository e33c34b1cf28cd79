#include "download/SaveActions.h"
#include "download/DownloadJob.h"
#include "download/DownloadQueue.h"
#include "platform/SettingsFile.h"
#include "support/FakeJobTimers.h"
#include "support/FakePlatform.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

namespace {

// Every save is queued ("Limit" on, no slot), so no request leaves the test.
struct SaveRun {
    TempHome home;
    SettingsFile ini{home.file(QStringLiteral("Pellmar.ini"))};
    FakePlatform fake;
    FakeJobTimers pump;
    DownloadQueue queue{ini, nullptr, pump.factory()};
    bool closed = false;
    SaveActions actions{ini, fake.platform, queue, QStringLiteral("/prog"),
                        [this] { closed = true; }};
    HitStores stores{{"x\thttp://h/one.mp3\t1", "song\thttp://h/first.mp3\t2",
                      "longer song\thttp://h/later.mp3\t3"},
                     {"H\t\\m\\\tsong.mp3\t1"},
                     {"u@H\t/pub\tsong.mp3"}};

    SaveRun() {
        ini.writeString("Options", "Limit", "True");
        ini.writeString("Options", "LimitNumber", "0");
        ini.writeString("Options", "InitialDir", home.path() + "/start/");
    }
    QString initialDir() const { return ini.readString("Options", "InitialDir", ""); }
};

} // namespace

// The record named exactly as the hit wins; otherwise the last one containing its name.
TEST(SaveActions, HttpHitGetsASaveDialogAndADownloadOfItsRecord) {
    struct Row {
        QByteArray caption;
        QString proposal;
        QString chosen;
        QByteArray url;
        QString target;
    };
    const Row rows[] = {
        {"song", "song.mp3", "a/b.mp3", "http://h/first.mp3", "a/b.mp3"},
        {"longer", "longer.mp3", "a/d.mp3", "http://h/later.mp3", "a/d.mp3"},
        {"one.mp3", "one.mp3", "a/c", "http://h/one.mp3", "a/c.mp3"}, // default extension
    };
    for (const Row& row : rows) {
        SaveRun run;
        QDir(run.home.path()).mkpath("a");
        const QString chosen = run.home.file(row.chosen);
        run.fake.dialogs.answers = {chosen};
        run.actions.SearchListviewDblClick(HitKind::Http, SelectedHit{0, row.caption}, run.stores);
        ASSERT_EQ(run.fake.dialogs.calls.size(), 1);
        EXPECT_EQ(run.fake.dialogs.calls[0],
                  (QStringList{"save", "", run.home.path() + "/start/", row.proposal}));
        ASSERT_EQ(run.queue.QueuedDownloads().size(), 1);
        EXPECT_EQ(run.queue.QueuedDownloads()[0]->TargetPath(), run.home.file(row.target));
        EXPECT_EQ(run.queue.QueuedDownloads()[0]->resumeInfo().url, row.url);
        EXPECT_EQ(run.initialDir(), run.home.path() + "/a/");
    }
}

TEST(SaveActions, NothingHappensWithoutASelectionOrAfterCancel) {
    SaveRun run;
    run.actions.SearchListviewDblClick(HitKind::Http, std::nullopt, run.stores);
    run.actions.SearchListviewDblClick(HitKind::Http, SelectedHit{0, "absent"}, run.stores);
    run.actions.SearchListviewDblClick(HitKind::Smb, SelectedHit{0, "song.mp3"}, run.stores);
    run.actions.SaveAllSelectedClick(HitKind::Ftp, {SelectedHit{0, "song.mp3"}}, run.stores);
    EXPECT_EQ(run.fake.dialogs.calls.size(), 2); // the SMB save and the FTP folder, cancelled
    EXPECT_TRUE(run.queue.QueuedDownloads().isEmpty());
    EXPECT_TRUE(run.fake.shell.launched.isEmpty());
    EXPECT_EQ(run.initialDir(), run.home.path() + "/start/");
}

// The user's own FTP client is told no folder: "Save All Selected" asks none and hands it
// every FTP hit.
TEST(SaveActions, SaveAllSelectedAsksNoFolderForTheUsersFtpClient) {
    SaveRun run;
    run.ini.writeString("Options", "UseFtp", "1");
    run.ini.writeString("Options", "FtpPath", "/usr/bin/myftp");
    run.actions.SaveAllSelectedClick(HitKind::Ftp, {SelectedHit{0, "song.mp3"}}, run.stores);
    EXPECT_TRUE(run.fake.dialogs.calls.isEmpty());
    ASSERT_EQ(run.fake.shell.launched.size(), 1);
    EXPECT_EQ(run.fake.shell.launched[0].first, "/usr/bin/myftp");
}

TEST(SaveActions, SmbAndFtpHitsGoToTheOutsidePrograms) {
    SaveRun run;
    run.fake.dialogs.answers = {"/m/song.mp3.mp3", "/m/song.mp3.mp3"};
    run.actions.SearchListviewDblClick(HitKind::Smb, SelectedHit{0, "song.mp3"}, run.stores);
    run.actions.SearchListviewDblClick(HitKind::Ftp, SelectedHit{0, "song.mp3"}, run.stores);
    EXPECT_EQ(run.fake.dialogs.calls[0][3], "song.mp3.mp3");
    ASSERT_EQ(run.fake.shell.launched.size(), 2);
    EXPECT_EQ(run.fake.shell.launched[0].first, "/prog/Lanpull.exe");
    EXPECT_EQ(run.fake.shell.launched[0].second,
              (QStringList{"\\\\H\\m\\song.mp3", "/m/song.mp3"}));
    EXPECT_EQ(run.fake.shell.launched[1].first, "/prog/veskftp.exe");
    EXPECT_EQ(run.fake.shell.launched[1].second,
              (QStringList{"ftp://u@H/pub/song.mp3", "/m/song.mp3"}));
    EXPECT_EQ(run.initialDir(), "/m/");
}

// "Save All Selected" never writes over a file: a taken name gets " (2)", held by an empty
// file until the program has written the real one, and given up again when it fails.
TEST(SaveActions, SaveAllSelectedTakesFreeSafeNamesInOneFolder) {
    SaveRun run;
    run.stores.smb = {"H\t\\m\\\ta.mp3", "H\t\\m\\\t..%2F..%2Fx", "H\t\\m\\\te"};
    run.stores.ftp = {"u@H\t/p/\ta.mp3"};
    const QString dest = run.home.file("dest");
    QDir().mkpath(dest);
    run.home.write("dest/a.mp3", "mine");
    run.fake.dialogs.answers = {dest, dest};
    run.actions.SaveAllSelectedClick(
        HitKind::Smb, {{0, "a"}, {1, "../../x"}, {2, "\x1b]0;t\x07 \x9d\x7f.mp3"}}, run.stores);
    run.actions.SaveAllSelectedClick(HitKind::Ftp, {{0, "a.mp3"}}, run.stores);
    QStringList handed;
    for (const auto& launch : run.fake.shell.launched)
        handed << launch.second.value(1).mid(dest.size());
    EXPECT_EQ(handed, (QStringList{"/a (2)", "/.._.._x", "/_]0;t_ __", "/a (3).mp3"}));
    EXPECT_EQ(run.fake.dialogs.calls[0][0], "folder");
    EXPECT_EQ(run.initialDir(), run.home.path() + "/start/"); // the folder is not remembered

    run.fake.shell.end(0, {true, false, 0, ""});
    run.fake.shell.end(1, {true, false, 1, "smbget: refused"});
    run.fake.shell.end(3, {false, false, 0, ""});
    EXPECT_EQ(QDir(dest).entryList(QDir::Files),
              (QStringList{"_]0;t_ __.mp3", "a (2).mp3", "a.mp3"}));
    EXPECT_EQ(run.home.read("dest/a.mp3"), "mine");
    QStringList shown;
    for (const RecordedMessage& message : run.fake.messages.shown)
        shown << message.text;
    EXPECT_EQ(shown, (QStringList{"\\\\H\\m\\..%2F..%2Fx was not saved as " + dest +
                                      "/.._.._x.mp3.\rLanpull.exe ended with exit code 1: "
                                      "smbget: refused",
                                  QString::fromUtf8("Couldn\xC2\xB4t execute FTP-client")}));
}

// The question is about the file the outside program will write, which may differ from the
// name typed in the dialog; a replaced file is only replaced once the new one is complete.
TEST(SaveActions, SmbAndFtpHitsAskAboutTheFileTheProgramWrites) {
    const struct {
        HitKind view;
        QString typed;
        QString asked; // empty: no question
        MessageResult answer;
        QString handed; // empty: nothing started
    } rows[] = {
        {HitKind::Smb, "song", "song.mp3", MessageResult::Yes, "song"},
        {HitKind::Smb, "song", "song.mp3", MessageResult::No, ""},
        {HitKind::Smb, "tune.mp3.mp3", "", MessageResult::No, "tune.mp3"},
        {HitKind::Ftp, "song", "song.mp3", MessageResult::Yes, "song.mp3"},
        {HitKind::Ftp, "song.mp3.mp3", "song.mp3", MessageResult::No, ""},
        {HitKind::Ftp, "tune", "", MessageResult::No, "tune.mp3"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.typed.toStdString());
        SaveRun run;
        run.home.write("song.mp3", "mine");
        run.fake.dialogs.answers = {run.home.file(row.typed)};
        run.fake.messages.answers = {row.answer};
        run.actions.SearchListviewDblClick(row.view, SelectedHit{0, "song.mp3"}, run.stores);
        QStringList asked;
        for (const RecordedMessage& shown : run.fake.messages.shown)
            asked << shown.text;
        EXPECT_EQ(asked, row.asked.isEmpty() ? QStringList()
                                             : QStringList{run.home.file(row.asked) +
                                                           " already exists.\rDo you want to "
                                                           "replace it?"});
        QStringList handed;
        for (const auto& launch : run.fake.shell.launched)
            handed << launch.second.value(1);
        EXPECT_EQ(handed,
                  row.handed.isEmpty() ? QStringList() : QStringList{run.home.file(row.handed)});
        EXPECT_EQ(run.home.read("song.mp3"), "mine");
    }
}

TEST(SaveActions, GoZillaTakesHttpHitsWhenChosen) {
    SaveRun run;
    run.ini.writeString("Options", "UseGo!Zilla", "1");
    run.fake.registry.setValue("\\Software\\Go!Zilla\\Version", "Module Name", "/opt/gz");
    run.actions.SaveAllSelectedClick(HitKind::Http, {{0, "one"}, {1, "song"}}, run.stores);
    EXPECT_TRUE(run.fake.dialogs.calls.isEmpty());
    ASSERT_EQ(run.fake.shell.launched.size(), 2);
    EXPECT_EQ(run.fake.shell.launched[1].second, QStringList{"http://h/first.mp3"});
}

TEST(SaveActions, AFileOnDiskIsResumedReplacedOrLeftAsTheUserSays) {
    struct Row {
        qsizetype onDisk;
        MessageResult answer;
        QString question; // empty: none asked
        bool queued;
        QByteArray kept; // what is on disk once the job is set up
    };
    const QByteArray start = "0123456789abcdefghij";
    const QString resume = " holds 10 of 20 bytes.\rResume the download? (No replaces the file)";
    const QString replace = " already exists.\rDo you want to replace it?";
    const Row rows[] = {
        {10, MessageResult::Yes, resume, true, start.left(10)},
        {10, MessageResult::No, resume, true, start.left(10)}, // replaced by a good reply only
        {10, MessageResult::Cancel, resume, false, start.left(10)},
        {20, MessageResult::Yes, replace, true, start}, // not smaller than the hit
        {20, MessageResult::No, replace, false, start},
        {-1, MessageResult::Yes, "", true, ""}, // no file yet
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.onDisk);
        SaveRun run;
        run.stores.http = {"tune\thttp://h/tune.mp3\t20\t128\t44100\tStereo"};
        if (row.onDisk >= 0)
            run.home.write("tune.mp3", start.left(row.onDisk));
        run.fake.dialogs.answers = {run.home.file("tune.mp3")};
        run.fake.messages.answers = {row.answer};
        run.actions.SearchListviewDblClick(HitKind::Http, SelectedHit{0, "tune"}, run.stores);
        QStringList asked;
        for (const RecordedMessage& shown : run.fake.messages.shown)
            asked << shown.text;
        EXPECT_EQ(asked, row.question.isEmpty()
                             ? QStringList()
                             : QStringList{run.home.file("tune.mp3") + row.question});
        EXPECT_EQ(run.queue.QueuedDownloads().size(), row.queued ? 1 : 0);
        EXPECT_EQ(run.home.read("tune.mp3"), row.kept);
    }
}
