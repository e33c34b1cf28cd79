#include "search/NameCleaning.h"

#include <gtest/gtest.h>

namespace {

struct Row {
    QByteArray in;
    QByteArray out;
};

} // namespace

TEST(NameCleaning, CleanLinkTextRemovesEachEntryUntilNoneIsLeft) {
    const Row rows[] = {
        {"Song &amp; Dance.mp3", "Song  Dance"},
        {"John_Doe-Best.MP3", "John_Doe-Best.MP3"},
        {"a::b**c??d", "abcd"},
        {"&am&amp;p;x", "x"},        // a removal forming the same entry again
        {"&nb&amp;sp;x", "&nbsp;x"}, // forming an entry already passed: it stays
        {"\"Live\" - [hold shift to download]", "Live "},
        {"AC/DC &raquo; T.N.T.mp3.mp3", "ACDC  T.N.T"},
        {"", ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(CleanLinkText(row.in), row.out) << row.in.constData();
}

TEST(NameCleaning, NormalizeNameShapesCaseBlanksAndDashes) {
    const Row rows[] = {
        {"my_song-live", "My Song - Live"},
        {"John_Doe-Best.MP3", "John Doe - Best.mp3"},
        {"Song  Dance", "Song  Dance"},
        {"-a--b-", "- A - - B -"},
        {"x - y", "X - Y"},
        {"name=www.abc", "abc"},              // capitals first, then "Name=" and "www." go
        {"\xE9t\xE9 song", "\xE9t\xE9 Song"}, // letters outside ASCII keep their case
    };
    for (const Row& row : rows)
        EXPECT_EQ(NormalizeName(row.in), row.out) << row.in.constData();
}

TEST(NameCleaning, RefusedNamesAndPreparedDisplayNames) {
    for (const QByteArray name : {"Visit http://x", "A Font Size 2", "Disc /1", "../up", "\xAC",
                                  "\xB9\xBE", "Best quality", "a//b", "Img Src=x"})
        EXPECT_FALSE(IsAcceptableName(name)) << name.constData();
    for (const QByteArray name : {"Artist - Title", "Quality Song", "\xB9 alone", ""})
        EXPECT_TRUE(IsAcceptableName(name)) << name.constData();

    const Row prepared[] = {
        {" \t Song &amp; Dance.mp3 \r", "Song  Dance"},
        {"&nbsp;&nbsp;", ""},         // nothing left after cleaning
        {"ttp:quality tune.mp3", ""}, // refused after cleaning joined "ttp" and "quality"
        {"best quality mix", "Best Quality Mix"},
        {"  a  ", "A"},
    };
    for (const Row& row : prepared)
        EXPECT_EQ(PrepareDisplayName(row.in), row.out) << row.in.constData();
}

TEST(NameCleaning, MegabyteTextsAreCleanedInOnePass) {
    const QByteArray junk = QByteArray(1 << 20, ':') + "&amp;" + QByteArray(1 << 20, '-');
    EXPECT_EQ(CleanLinkText(junk), QByteArray(1 << 20, '-'));
    EXPECT_EQ(NormalizeName(QByteArray(1 << 20, '-')).size(), 2 * (1 << 20) - 1);
}

// A UTF-8 link text: the same cleaning and refusals, on characters. "京" is E4 BA AC in UTF-8,
// and 0xAC is the refused "¬" of Windows-1252.
TEST(NameCleaning, Utf8NamesAreCleanedByTheirCharacters) {
    const QByteArray rows[][2] = {
        {"\xC3\x87"
         "elik_r\xC3\xBCzgar-live.mp3",
         "\xC7"
         "elik R\xFCzgar - Live"},
        {" \xE6\x9D\xB1\xE4\xBA\xAC_hits: Vol?2.mp3 ",
         "\xEF\xBB\xBF\xE6\x9D\xB1\xE4\xBA\xAC Hits Vol2"},
        {"\xE4\xBA\xAC \xC2\xBD", ""}, // "京 ½"
        {"\xE4\xBA\xAC font size", ""},
        {"\xE4\xBA\xAC\xFF", "\xEF\xBB\xBF\xE4\xBA\xAC\xEF\xBF\xBD"}, // invalid byte: U+FFFD
        {"::", ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(PrepareUtf8DisplayName(row[0]), row[1]) << row[0].constData();
}
