#include "app/ImageListDelegate.h"
#include "app/ListPictures.h"
#include "app/MainForm.h"
#include "app/SearchPage.h"
#include "search/HitListModel.h"
#include "search/HostListModel.h"
#include "search/LocalSearchService.h"
#include "searchd/pages/ServiceFiles.h"
#include "support/EventLoopWait.h"
#include "support/FakePlatform.h"
#include "support/TempHome.h"
#include "support/ViewClicks.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeView>
#include <gtest/gtest.h>

namespace {

QImage pictureOf(const QIcon& icon) {
    return icon.pixmap(16, 16).toImage();
}

QStringList rowTexts(const QAbstractItemModel& model, int row) {
    QStringList texts;
    for (int column = 0; column < model.columnCount(); ++column)
        texts.append(model.index(row, column).data().toString());
    return texts;
}

} // namespace

// A search from the main window against the local search service fills the host list and
// the hit list, both with their pictures, and leaves a screenshot in the build folder.
TEST(SearchWindow, ASearchFillsBothListsWithPictures) {
    LocalSearchService service;
    TempHome home;
    WriteDataFile(home.file(QStringLiteral("Pellmar.dat")),
                  ServiceFiles::dataFileLines(service.base(), 1));
    // The build's program folder lends its sample ad library and pictures to the banner.
    const QDir build(QStringLiteral(PELLMAR_PROGRAM_DIR));
    QFile::copy(build.filePath(QStringLiteral("advert.dll")),
                home.file(QStringLiteral("advert.dll")));
    QDir(home.path()).mkdir(QStringLiteral("ads"));
    for (const QString& name : QDir(build.filePath(QStringLiteral("ads"))).entryList(QDir::Files))
        QFile::copy(build.filePath(QStringLiteral("ads/") + name),
                    home.file(QStringLiteral("ads/") + name));
    FakePlatform fake;
    TMainForm form(fake.platform);
    form.show();
    form.showNormal();
    form.resize(1000, 640);

    form.ComboBox1->setEditText(QStringLiteral("the"));
    form.SearchButton->click();
    ASSERT_TRUE(WaitFor([&] { return form.SearchStatus->text() == QStringLiteral("Done"); }, 60000))
        << form.SearchStatus->text().toStdString();
    ASSERT_TRUE(WaitFor([&] { return form.HostListView->model()->rowCount() == 3; }));

    // The HTTP hits show once their host row is clicked.
    clickRow(*form.HostListView, 0);
    const QAbstractItemModel& hosts = *form.HostListView->model();
    const QAbstractItemModel& hits = *form.SearchListview->model();
    const int found = form.SearchFound->text().toInt();
    EXPECT_EQ(rowTexts(hosts, 0),
              (QStringList{QStringLiteral("HTTP Links"), QString::number(hits.rowCount()),
                           QStringLiteral("99")}));
    EXPECT_EQ(hosts.index(1, 0).data().toString(), QStringLiteral("SMB Links"));
    EXPECT_EQ(hosts.index(2, 0).data().toString(), QStringLiteral("FTP Links"));
    EXPECT_EQ(found, hosts.index(0, 1).data().toInt() + hosts.index(1, 1).data().toInt() +
                         hosts.index(2, 1).data().toInt());
    ASSERT_GT(hits.rowCount(), 1);
    for (const RecordedMessage& message : fake.messages.shown)
        ADD_FAILURE() << message.text.toStdString();

    // Each row shows the picture of its image index.
    auto* hitPictures = qobject_cast<TImageListDelegate*>(form.SearchListview->itemDelegate());
    auto* hostPictures = qobject_cast<TImageListDelegate*>(form.HostListView->itemDelegate());
    ASSERT_TRUE(hitPictures && hostPictures);
    const QList<QIcon> faces = ListPictures::hitImages();
    for (int row = 0; row < hits.rowCount(); ++row) {
        const QModelIndex caption = hits.index(row, 0);
        const int mark = caption.data(HitListModel::ImageIndexRole).toInt();
        EXPECT_EQ(pictureOf(hitPictures->imageFor(caption)), pictureOf(faces.at(mark)))
            << caption.data().toString().toStdString();
    }
    const QList<QIcon> kinds = ListPictures::hostImages();
    for (const auto& [row, image] : {std::pair{0, 2}, {1, 3}, {2, 0}})
        EXPECT_EQ(pictureOf(hostPictures->imageFor(hosts.index(row, 0))),
                  pictureOf(kinds.at(image)));

    form.grab().save(QStringLiteral(PELLMAR_SCREENSHOT_DIR "/search-window.png"));

    // The buttons under the hit list: select every row, then invert the selection.
    QItemSelectionModel& selection = *form.SearchListview->selectionModel();
    selection.select(hits.index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    form.SearchPage->invertHitSelection();
    EXPECT_EQ(selection.selectedRows().size(), hits.rowCount() - 1);
    EXPECT_FALSE(selection.isRowSelected(0));
    form.SearchPage->selectAllHits();
    EXPECT_EQ(selection.selectedRows().size(), hits.rowCount());
    form.close();
}
