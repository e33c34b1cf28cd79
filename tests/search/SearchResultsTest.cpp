#include "search/SearchResults.h"
#include "download/HeaderProbes.h"
#include "platform/SettingsFile.h"
#include "support/FakePlatform.h"
#include "support/ListRows.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

namespace {

const QList<QByteArray> kSmbRecords = {
    "10.0.0.5\t\\mp3\\A\\\tb.mp3\t200",
    "10.0.0.5\t\\mp3\tc.mp3\t30", // a folder without its closing backslash
    "10.0.0.6\t\\x\\\ta.mp3\tmany",
    "10.0.0.6\t\\x\\\td.mp3\t7\textra",
};
const QList<QByteArray> kFtpRecords = {
    "me@h:21\t/Rock/\tb.mp3\t20\textra",
    "x@y:1\t/F/\ta.mp3\t10",
    "x@z:1\t/F/\tFTP Links.mp3\t5",
};

class SearchResultsTest : public ::testing::Test {
protected:
    SearchResultsTest() {
        ini.writeString("Options", "MinBitrate", "100");
        results.clear();
    }

    // A click on a host row: selected and focused, then the list is filled for it.
    void clickHost(int row) {
        results.hostSelection().setCurrentIndex(results.hostList().index(row, 0),
                                                QItemSelectionModel::ClearAndSelect |
                                                    QItemSelectionModel::Rows);
        results.HostListViewClick();
    }
    void focusHit(int row) {
        results.hitSelection().setCurrentIndex(results.hitList().index(row, 0),
                                               QItemSelectionModel::NoUpdate);
    }
    void fillStores() {
        results.addHttpHit({"Zed", "http://h/z.mp3", 4000, 128, 44100, true, "Stereo"});
        results.addHttpHit({"Ab", "http://h/ab.mp3", 10, 64, 22050, false, "Mono"});
        results.addHttpHit({"Abe", "http://h/a.mp3", 0, 0, 0, false, "Mono"});
        results.setSmbHits(kSmbRecords);
        results.setFtpHits(kFtpRecords);
    }
    QStringList hitRows() { return HitRowTexts(results.hitList()); }

    TempHome home;
    SettingsFile ini{home.file("Pellmar.ini")};
    FakePlatform fake;
    SearchResults results{ini, fake.platform};
};

} // namespace

TEST_F(SearchResultsTest, EachHostRowListsItsStore) {
    fillStores();
    EXPECT_EQ(HostRowTexts(results.hostList()),
              (QStringList{"HTTP Links|3", "SMB Links|4", "FTP Links|3"}));
    const struct {
        int hostRow;
        HostView view;
        bool sorted;
        QStringList rows;
    } rows[] = {
        {HostListModel::HttpRow,
         HostView::Http,
         true,
         {"Ab|2|10|64kb/s 22kHz Mono", "Abe|1|N/A|N/A", "Zed|0|4000|128kb/s 44kHz Stereo"}},
        {HostListModel::SmbRow,
         HostView::Smb,
         false,
         {"b.mp3|1|200|N/A", "c.mp3|1|30|N/A", "a.mp3|1|N/A|N/A", "d.mp3|1|7|N/A"}},
        {HostListModel::FtpRow,
         HostView::Ftp,
         false,
         {"b.mp3|1|20|", "a.mp3|1|10|", "FTP Links.mp3|1|5|"}},
    };
    for (const auto& row : rows) {
        clickHost(row.hostRow);
        EXPECT_EQ(results.hostView(), row.view) << row.hostRow;
        EXPECT_EQ(results.hitList().isSorted(), row.sorted) << row.hostRow;
        EXPECT_EQ(hitRows(), row.rows) << row.hostRow;
    }
}

TEST_F(SearchResultsTest, SmbHitsAreListedOnArrivalWhileTheirRowIsFocused) {
    EXPECT_EQ(results.setSmbHits(kSmbRecords.mid(0, 2)), 2);
    EXPECT_EQ(results.hostView(), HostView::Smb);
    EXPECT_EQ(hitRows(), (QStringList{"b.mp3|1|200|N/A", "c.mp3|1|30|N/A"}));
    EXPECT_EQ(results.setFtpHits({}), 0);
    EXPECT_EQ(HostRowTexts(results.hostList()), (QStringList{"HTTP Links|0", "SMB Links|2"}));

    results.clear();
    EXPECT_TRUE(results.SmbHitStore().isEmpty());
    EXPECT_TRUE(hitRows().isEmpty());
    EXPECT_EQ(results.hostView(), HostView::Http);
    EXPECT_EQ(results.hostSelection().currentIndex().row(), HostListModel::SmbRow);
}

TEST_F(SearchResultsTest, HttpHitsAreListedOnlyWhileTheirRowIsSelected) {
    results.addHttpHit({"Zed", "http://h/z.mp3", 4000, 128, 44100, true, "Stereo"});
    EXPECT_TRUE(hitRows().isEmpty());
    EXPECT_TRUE(results.isListed("Zed"));
    EXPECT_FALSE(results.isListed("Abe"));
    clickHost(HostListModel::HttpRow);
    results.addHttpHit({"Abe", "http://h/a.mp3", 0, 0, 0, false, "Mono"});
    EXPECT_EQ(hitRows(), (QStringList{"Abe|1|N/A|N/A", "Zed|0|4000|128kb/s 44kHz Stereo"}));
    EXPECT_EQ(results.HttpHitStore(),
              (QList<QByteArray>{"Zed\thttp://h/z.mp3\t4000\t128\t44100\tStereo",
                                 "Abe\thttp://h/a.mp3\t0\t0\t0\tMono"}));
}

TEST_F(SearchResultsTest, CopyCommandsTakeTheFieldsOfTheRecords) {
    fillStores();
    fake.clipboard.content = "before";
    const struct {
        int hostRow;
        int hitRow;
        QString clipboard;
        QString message;
    } rows[] = {
        // "Ab" is also part of "Abe": the last record holding the caption wins.
        {HostListModel::HttpRow, 0, "http://h/a.mp3", ""},
        {HostListModel::HttpRow, 2, "http://h/z.mp3", ""},
        {HostListModel::FtpRow, 0, "me@h:21", ""},
        {HostListModel::FtpRow, 1, "x@y:1", ""},
        {HostListModel::SmbRow, 0, "x@y:1", "Function not available for SMB files"},
    };
    for (const auto& row : rows) {
        fake.messages.shown.clear();
        clickHost(row.hostRow);
        focusHit(row.hitRow);
        results.CopyPathToClipboard1Click();
        EXPECT_EQ(fake.clipboard.content, row.clipboard) << row.hostRow << " " << row.hitRow;
        EXPECT_EQ(fake.messages.shown.isEmpty() ? QString() : fake.messages.shown[0].text,
                  row.message);
    }
    clickHost(HostListModel::SmbRow); // not an FTP row: nothing is copied
    results.CopyFTPPathClick();
    EXPECT_EQ(fake.clipboard.content, "x@y:1");
    clickHost(HostListModel::FtpRow); // a file named like the row holds its caption
    results.CopyFTPPathClick();
    EXPECT_EQ(fake.clipboard.content, "ftp://x@z:1");
}
