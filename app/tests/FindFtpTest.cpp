#include "app/PathDialog.h"
#include "app/frmFindFTP.h"
#include "support/EventLoopWait.h"
#include "support/FakePlatform.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class FindFtpTest : public ::testing::Test {
protected:
    void addFile(const QString& name) {
        QDir().mkpath(QFileInfo(disk.filePath(name)).absolutePath());
        QFile(disk.filePath(name)).open(QIODevice::WriteOnly);
    }
    // Shows the locator over the test disk and waits for its walk to end.
    void runWalk(TfrmFindFTP& form) {
        bool ended = false;
        QObject::connect(&form, &TfrmFindFTP::walkEnded, [&] { ended = true; });
        form.diskRoots = [this] { return QStringList{disk.path()}; };
        form.show();
        ASSERT_TRUE(WaitFor([&] { return ended; }));
    }

    TempHome home;      // the program folder
    QTemporaryDir disk; // walked; the program folder is home
    FakePlatform fake;
};

} // namespace

TEST_F(FindFtpTest, FoundClientsAreListedAndOkKeepsTheFirst) {
    addFile(QStringLiteral("apps/cutftp.exe"));
    addFile(QStringLiteral("apps/notes.txt"));
    TfrmFindFTP form(fake.shell);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Searching For Ftp Programs"));
    runWalk(form);
    ASSERT_EQ(form.ListBox1->count(), 1);
    EXPECT_EQ(form.foundPath(), disk.filePath(QStringLiteral("apps/cutftp.exe")));
    form.OKButton->click();
    EXPECT_EQ(form.result(), 1);
    EXPECT_TRUE(fake.shell.opened.isEmpty());
}

TEST_F(FindFtpTest, NothingFoundOpensTheFtpHelpPage) {
    addFile(QStringLiteral("WS_FTP95.DLL"));
    TfrmFindFTP form(fake.shell);
    runWalk(form);
    EXPECT_EQ(form.ListBox1->count(), 0);
    EXPECT_TRUE(form.foundPath().isEmpty());
    EXPECT_EQ(fake.shell.opened, QStringList{home.file(QStringLiteral("help/ftp.htm"))});
    form.CancelButton->click();
    EXPECT_EQ(form.result(), 2);
}

TEST_F(FindFtpTest, CancelDuringTheWalkStopsItAndClosesAfterwards) {
    for (int i = 0; i < 40; ++i)
        addFile(QStringLiteral("leechftp%1.exe").arg(i));
    TfrmFindFTP form(fake.shell);
    // Pressed while the first entries are listed; handled at the next pause for input.
    QObject::connect(
        form.ListBox1->model(), &QAbstractItemModel::rowsInserted, &form,
        [&] { form.CancelButton->click(); }, Qt::QueuedConnection);
    runWalk(form);
    EXPECT_EQ(form.ListBox1->count(), 10);
    EXPECT_EQ(form.result(), 2);
    EXPECT_FALSE(form.isVisible());
}

TEST(PathDialogTest, DirectoryLosesOneTrailingSlashAndTakesTheChoice) {
    FakePlatform fake;
    TPathDialog dialog(fake.dialogs);
    for (const auto& [given, stored] :
         {std::pair{"/music/", "/music"}, std::pair{"C:\\Music\\", "C:\\Music"},
          std::pair{"/music//", "/music/"}, std::pair{"/", "/"}}) {
        dialog.setDirectory(QString::fromLatin1(given));
        EXPECT_EQ(dialog.Directory(), QString::fromLatin1(stored));
    }
    dialog.Title = QStringLiteral("Save the files in");
    dialog.setDirectory(QStringLiteral("/start"));
    fake.dialogs.answers = {std::nullopt, QStringLiteral("/chosen/folder/")};
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(dialog.Directory(), QStringLiteral("/start"));
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.Directory(), QStringLiteral("/chosen/folder"));
    EXPECT_EQ(fake.dialogs.calls[0], QStringList({"folder", "Save the files in", "/start"}));
}
