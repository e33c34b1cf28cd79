#include "search/HitListModel.h"
#include "search/HostListModel.h"

#include <gtest/gtest.h>

namespace {

QStringList captions(const HitListModel& model) {
    QStringList list;
    for (int row = 0; row < model.rowCount(); ++row)
        list.append(model.index(row, 0).data().toString());
    return list;
}

SearchHit hit(const QByteArray& caption, int image = qmUnknown) {
    return {caption, image, "1", "N/A"};
}

} // namespace

TEST(HitListModel, SortedModeInsertsByCaptionUnsortedAppends) {
    HitListModel model;
    for (const QByteArray caption : {"b", "A", "a", "C", "\xE9t\xE9"})
        model.addRow(hit(caption));
    EXPECT_EQ(captions(model), (QStringList{"b", "A", "a", "C", QString::fromUtf8("été")}));
    model.setSorted(true);
    EXPECT_EQ(captions(model), (QStringList{"A", "a", "b", "C", QString::fromUtf8("été")}));
    EXPECT_EQ(model.addRow(hit("Ab")), 2);
    model.setSorted(false);
    EXPECT_EQ(model.addRow(hit("0")), 6);

    EXPECT_TRUE(model.hasCaption("Ab"));
    EXPECT_FALSE(model.hasCaption("ab"));
    model.removeHitRows({2, 0, 2, 99});
    EXPECT_EQ(captions(model), (QStringList{"a", "b", "C", QString::fromUtf8("été"), "0"}));
    EXPECT_FALSE(model.hasCaption("Ab"));
}

TEST(HitListModel, ColumnsRolesAndOneBatchRemoval) {
    HitListModel model;
    model.addRow({"Song", qmBelow, "N/A", "64kb/s 22kHz Mono"});
    model.addRow(hit("Song"));
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "MP3 File");
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "Size");
    EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), "File Info");
    EXPECT_EQ(model.index(0, 1).data().toString(), "N/A");
    EXPECT_EQ(model.index(0, 2).data().toString(), "64kb/s 22kHz Mono");
    EXPECT_EQ(model.index(0, 2).data(HitListModel::ImageIndexRole).toInt(), qmBelow);

    model.removeHitRows({0});
    EXPECT_TRUE(model.hasCaption("Song")); // the other row still has it
    int resets = 0;
    QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
    model.clear();
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_FALSE(model.hasCaption("Song"));
}

TEST(HostListModel, FixedRowsFtpRowAndCounts) {
    HostListModel model;
    model.addFixedRows();
    model.appendFtpRow(7);
    model.addFiles(HostListModel::HttpRow, 2);
    model.setFiles(HostListModel::SmbRow, 5);
    model.addFiles(9, 1);
    QStringList rows;
    for (int row = 0; row < model.rowCount(); ++row)
        rows.append(QStringLiteral("%1|%2|%3|%4")
                        .arg(model.index(row, 0).data().toString(),
                             model.index(row, 1).data().toString(),
                             model.index(row, 2).data().toString())
                        .arg(model.index(row, 0).data(HostListModel::ImageIndexRole).toInt()));
    EXPECT_EQ(rows, (QStringList{"HTTP Links|2|99|2", "SMB Links|5|80|3", "FTP Links|7|50|0"}));
    EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), "Rel.");
}
