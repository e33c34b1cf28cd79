#include "app/frmGroupSelect.h"
#include "app/frmSearchFile.h"
#include "platform/Cp1252.h"
#include "search/GroupSelection.h"
#include "search/HitListModel.h"
#include "support/FakePlatform.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <gtest/gtest.h>

namespace {

// A filled hit list: caption and "Size" as the list shows them.
const QList<QPair<QString, QString>> kRows = {
    {QStringLiteral("Beatles - Help.mp3"), QStringLiteral("3000000")},
    {QStringLiteral("beatles - yesterday.mp3"), QStringLiteral("30000")},
    {QStringLiteral("BEATLES live.mp3"), QStringLiteral("29999")},
    {QStringLiteral("\u00C4rzte - M\u00E4nner.mp3"), QStringLiteral("5000000")},
    {QStringLiteral("Unknown.mp3"), QStringLiteral("N/A")},
    {QStringLiteral("beatles late.mp3"), QStringLiteral("40000")},
};

class ListDialogsTest : public ::testing::Test {
protected:
    void SetUp() override { fill(kRows); }

    // The hit list in the order the rows come, as it shows SMB and FTP hits.
    void fill(const QList<QPair<QString, QString>>& rows) {
        model.clear();
        for (const auto& [caption, size] : rows)
            model.addRow(
                {Cp1252::fromUnicode(caption), qmUnknown, Cp1252::fromUnicode(size), "N/A"});
        list.setSelectionMode(QAbstractItemView::ExtendedSelection);
        list.setSelectionBehavior(QAbstractItemView::SelectRows);
        list.setModel(&model);
        list.setSelectionModel(&selection);
    }

    QList<int> selectedRows() const {
        QList<int> rows;
        for (const QModelIndex& index : list.selectionModel()->selectedRows())
            rows.append(index.row());
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    void preselect(int row) {
        selection.select(model.index(row, 0),
                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QStringList messages() const {
        QStringList texts;
        for (const RecordedMessage& message : fake.messages.shown)
            texts.append(message.text);
        return texts;
    }

    FakePlatform fake;
    HitListModel model;
    QItemSelectionModel selection{&model};
    QTreeView list;
};

struct GroupRow {
    const char* name;
    bool size;
    const char* min;
    const char* max;
    bool contain;
    const char* text;
    bool caseSensitive;
    QList<int> selected;
    const char* message;
};

} // namespace

TEST_F(ListDialogsTest, GroupSelectSelectsByNameAndSize) {
    const QList<GroupRow> rows = {
        {"folds A to Z", false, "", "", true, "beatles", false, {0, 1, 2, 5}, nullptr},
        {"case sensitive", false, "", "", true, "beatles", true, {1, 5}, nullptr},
        {"empty text selects nothing", false, "", "", true, "", false, {}, nullptr},
        {"accented capitals are not folded",
         false,
         "",
         "",
         true,
         "M\u00C4NNER",
         false,
         {},
         nullptr},
        {"letters A to Z are", false, "", "", true, "M\u00E4NNER", false, {3}, nullptr},
        {"nothing asked", false, "", "", false, "x", false, {3}, "Please check one option first!"},
        {"N/A stops a minimum",
         true,
         "30",
         "",
         false,
         "",
         false,
         {0, 1, 3},
         "'N/A' is not a valid integer value"},
        {"maximum is inclusive",
         true,
         "0",
         "3000",
         false,
         "",
         false,
         {0, 1, 2},
         "'N/A' is not a valid integer value"},
        {"name and size",
         true,
         "30",
         "0",
         true,
         "BEATLES",
         false,
         {0, 1},
         "'N/A' is not a valid integer value"},
        {"bad edit changes nothing",
         true,
         "abc",
         "",
         true,
         "beatles",
         false,
         {3},
         "'abc' is not a valid integer value"},
    };
    for (const GroupRow& row : rows) {
        SCOPED_TRACE(row.name);
        fake.messages.shown.clear();
        selection.clearSelection();
        preselect(3);
        TfrmGroupSelect dialog(fake.platform, &list);
        dialog.show();
        dialog.CheckBox1->setChecked(row.size);
        dialog.MinSizeEdit->setText(QString::fromUtf8(row.min));
        dialog.MaxSizeEdit->setText(QString::fromUtf8(row.max));
        dialog.CheckBox2->setChecked(row.contain);
        dialog.MustContainEdit->setText(QString::fromUtf8(row.text));
        dialog.CheckBox3->setChecked(row.caseSensitive);
        dialog.BitBtn1->click();
        EXPECT_EQ(selectedRows(), row.selected);
        EXPECT_EQ(messages(),
                  row.message ? QStringList{QString::fromUtf8(row.message)} : QStringList());
        EXPECT_FALSE(dialog.isVisible());
    }
}

TEST_F(ListDialogsTest, GroupSelectWithoutSizesSelectsEveryRowInTheRange) {
    QList<QPair<QString, QString>> rows = kRows;
    rows[4].second = QStringLiteral("0");
    fill(rows);
    TfrmGroupSelect dialog(fake.platform, &list);
    dialog.CheckBox1->setChecked(true);
    dialog.CheckBox2->setChecked(false);
    dialog.BitBtn1->click();
    EXPECT_EQ(selectedRows(), (QList<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_TRUE(fake.messages.shown.isEmpty());
}

TEST_F(ListDialogsTest, GroupSelectControlsFollowTheirCheckBoxes) {
    TfrmGroupSelect dialog(fake.platform, &list);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Select Group"));
    dialog.show();
    EXPECT_TRUE(dialog.BitBtn1->text().isEmpty());
    EXPECT_TRUE(dialog.BitBtn2->text().isEmpty());
    EXPECT_FALSE(dialog.MinSizeEdit->isEnabled());
    dialog.CheckBox1->setChecked(true);
    EXPECT_TRUE(dialog.MinSizeEdit->isEnabled());
    EXPECT_TRUE(dialog.MaxSizeEdit->isEnabled());
    dialog.CheckBox2->setChecked(false);
    EXPECT_FALSE(dialog.MustContainEdit->isEnabled());

    // Leaving a size edit checks its text and leaves it as it is.
    for (const char* text : {"", "-5", "12k", "12", "0"}) {
        fake.messages.shown.clear();
        dialog.MinSizeEdit->setText(QString::fromUtf8(text));
        QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(dialog.MinSizeEdit, &leave);
        const bool valid = GroupSelection::isSizeText(QString::fromUtf8(text));
        EXPECT_EQ(messages(),
                  valid ? QStringList() : QStringList{QStringLiteral("Must be a positive integer")})
            << text;
        EXPECT_EQ(dialog.MinSizeEdit->text(), QString::fromUtf8(text));
    }
}

TEST_F(ListDialogsTest, FindSelectsTheFirstMatchOnly) {
    const QList<std::tuple<QString, int, QString>> rows = {
        {QStringLiteral("BEATLES"), 0, {}},
        {QStringLiteral("Yesterday"), 1, {}},
        {QStringLiteral("m\u00E4nner"), 3, {}},
        {QStringLiteral("\u00E4rzte"), -1, QStringLiteral("Sorry, no file matching your search")},
        {QString(), -2, QStringLiteral("Please enter a search string")},
    };
    TfrmSearchFile dialog(fake.platform, &list);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Search"));
    for (const auto& [text, row, message] : rows) {
        SCOPED_TRACE(text.toStdString());
        fake.messages.shown.clear();
        selection.clearSelection();
        preselect(5);
        dialog.show();
        EXPECT_TRUE(dialog.BitBtn1->text().isEmpty());
        dialog.SearchEdit->setText(text);
        dialog.BitBtn1->click();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(messages(), message.isEmpty() ? QStringList() : QStringList{message});
        if (row == -2) {
            EXPECT_EQ(selectedRows(), QList<int>{5});
            continue;
        }
        EXPECT_EQ(selectedRows(), row < 0 ? QList<int>() : QList<int>{row});
        if (row >= 0) {
            EXPECT_EQ(selection.currentIndex().row(), row);
        }
    }
}
