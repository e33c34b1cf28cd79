#include "core/SearchHistory.h"
#include "core/HitRecords.h"
#include "platform/SettingsFile.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

TEST(SearchHistory, NewestFirstElevenAtMostCaseInsensitiveDuplicates) {
    QStringList entries;
    for (int i = 1; i <= 12; ++i)
        entries = SearchHistory::Updated(entries, QStringLiteral("s%1").arg(i));
    EXPECT_EQ(entries.size(), 11);
    EXPECT_EQ(entries.first(), "s12");
    EXPECT_EQ(entries.last(), "s2");
    EXPECT_EQ(SearchHistory::Updated(entries, "S5"), entries);
    EXPECT_EQ(SearchHistory::Updated({"a", "b"}, "  "), (QStringList{"  ", "a", "b"}));
    EXPECT_EQ(SearchHistory::Updated({}, QString::fromUtf8("Été")),
              QStringList{QString::fromUtf8("Été")});
    EXPECT_EQ(SearchHistory::Updated({QString::fromUtf8("été")}, QString::fromUtf8("ÉTÉ")).size(),
              1);
}

TEST(SearchHistory, WrittenAndReadBackThroughTheSettingsFile) {
    TempHome home;
    SettingsFile ini(home.file("Pellmar.ini"));
    SearchHistory::Write(ini, {"rock", "", "jazz"});
    EXPECT_EQ(home.read("Pellmar.ini"),
              "[Searches]\r\nCount=3\r\nSearch0=rock\r\nSearch1=\r\nSearch2=jazz\r\n");
    EXPECT_EQ(SearchHistory::Read(ini), (QStringList{"rock", "", "jazz"}));
    ini.writeString("Searches", "Count", "1000000");
    EXPECT_EQ(SearchHistory::Read(ini).size(), 11);
}

TEST(HitRecords, FieldsOfStoreLines) {
    const HttpHitRecord http =
        HttpHitRecord::fromLine("A\thttp://h/a.mp3\t5000\t128\t44100\tSTEREO");
    EXPECT_EQ(http.line(), "A\thttp://h/a.mp3\t5000\t128\t44100\tStereo");
    EXPECT_EQ(HttpHitRecord::fromLine("B\tu\tx\t\t").line(), "B\tu\t0\t0\t0\tMono");
    EXPECT_EQ(ListingRecord::fromLine("h\t/f/\tn.mp3\t10\tx"),
              (ListingRecord{"h", "/f/", "n.mp3", "10\tx"}));
    EXPECT_EQ(ListingRecord::fromLine("only"), (ListingRecord{"only", "", "", ""}));
    EXPECT_EQ(ListingRecord::fromLine("h\t/f/\tn.mp3\t10\tx").sizeText(), "10");
    EXPECT_EQ(ListingRecord::fromLine("h\t/f/\tn.mp3").sizeText(), "");
}
