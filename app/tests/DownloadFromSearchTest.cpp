#include "app/MainForm.h"
#include "core/DataFileConfig.h"
#include "download/DownloadQueue.h"
#include "download/SaveActions.h"
#include "search/LocalSearchService.h"
#include "support/EventLoopWait.h"
#include "support/FakePlatform.h"
#include "support/TempHome.h"
#include "support/ViewClicks.h"

#include <QDirIterator>
#include <QLabel>
#include <QTreeView>
#include <gtest/gtest.h>

// From a search against the local search service to a file on disk: a double-click on an
// HTTP hit asks for the target, the download window shows the transfer, and the file is the
// library's, byte for byte.
TEST(DownloadFromSearch, HttpHitIsSavedThroughItsDownloadWindow) {
    TempHome home;
    LocalSearchService service;
    WriteDataFile(home.file("Pellmar.dat"),
                  {"3", "http://home.example", "x", "0", "a", "b", "y", "c", "d"});
    FakePlatform fake;
    TMainForm form(fake.platform, {[](int) { return 1; }, {}});
    form.show();
    SearchRun& run = form.searchRun();
    run.setServiceUrls(service.urls());
    run.SearchButtonClick("marla", SearchSources{true, false, false, false});
    ASSERT_TRUE(WaitFor([&] { return run.statusText() == "Done"; }));
    ASSERT_EQ(run.HttpHitStore().size(), 2);
    clickRow(*form.HostListView, 0); // the HTTP hits show once their host row is picked
    const QModelIndexList rows = form.SearchListview->model()->match(
        form.SearchListview->model()->index(0, 0), Qt::DisplayRole, "Marla Quinn - Blue Motel", 1,
        Qt::MatchExactly);
    ASSERT_EQ(rows.size(), 1);

    const QString target = home.file("Blue Motel.mp3");
    fake.dialogs.answers = {target};
    doubleClickRow(*form.SearchListview, rows[0].row());
    ASSERT_EQ(fake.dialogs.calls.size(), 1);
    EXPECT_EQ(fake.dialogs.calls[0][3], "Marla Quinn - Blue Motel.mp3");
    ASSERT_EQ(form.downloadWindows().size(), 1);
    TfrmDownloadFile* window = form.downloadWindows()[0];
    EXPECT_TRUE(window->isVisible());
    ASSERT_TRUE(WaitFor([&] { return window->job()->Finished(); }));
    EXPECT_EQ(window->windowTitle(), "100% Blue Motel");
    EXPECT_EQ(window->Status->text(), "Receiving data");
    EXPECT_EQ(window->InfoLabel->text(), window->lblFileLength->text());

    const QString shot = qEnvironmentVariable("PELLMAR_SCREENSHOT");
    if (!shot.isEmpty())
        window->grab().save(shot);

    QDirIterator files(service.library(), {"Marla Quinn - Blue Motel.mp3"}, QDir::Files,
                       QDirIterator::Subdirectories);
    ASSERT_TRUE(files.hasNext());
    QFile original(files.next());
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    QFile saved(target);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), original.readAll());

    form.downloads().PumpDownloads(); // a Timer2 tick takes the finished window away
    EXPECT_TRUE(form.downloads().ActiveDownloads().isEmpty());
    EXPECT_TRUE(WaitFor([&] { return form.downloadWindows().isEmpty(); }));
}
