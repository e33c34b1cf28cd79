#include "core/TextHelpers.h"

#include <gtest/gtest.h>

TEST(SplitLines, EndsAtCrLfAndThePairAndKeepsTheLastLine) {
    EXPECT_EQ(SplitLines(QByteArray("a\r\nb\n\nc", 7)), (QList<QByteArray>{"a", "b", "", "c"}));
    EXPECT_TRUE(SplitLines(QByteArray()).isEmpty());
    EXPECT_EQ(SplitLines("\r\r\n\n"), (QList<QByteArray>{"", "", ""}));
    EXPECT_EQ(SplitLines("x\n"), QList<QByteArray>{"x"});
    EXPECT_EQ(SplitLines("\n\r"), (QList<QByteArray>{"", ""}));
}

TEST(SplitLines, AZeroByteEndsTheLinesText) {
    EXPECT_EQ(SplitLines(QByteArray("ab\0cd\nef", 8)), (QList<QByteArray>{"ab", "ef"}));
}

TEST(SplitLines, APairSplitAcrossNothingIsStillOneEnd) {
    // Every way of cutting the same bytes gives the same lines when joined first.
    const QByteArray body("one\r\ntwo\rthree\n\r\nfour");
    EXPECT_EQ(SplitLines(body), (QList<QByteArray>{"one", "two", "three", "", "four"}));
}

TEST(DescrambleText, ShiftsOddAndEvenPositionsByTheLength) {
    // Length 3: 59 off positions 1 and 3, 48 off position 2.
    const QByteArray plain = DescrambleText(QByteArray("\x3b\x30\x3c"));
    EXPECT_EQ(plain, QByteArray("\0\0\1", 3));
    EXPECT_EQ(DescrambleText(QByteArray("\x00\x00\x00", 3)), QByteArray("\xc5\xd0\xc5"));
    EXPECT_TRUE(DescrambleText(QByteArray()).isEmpty());
    EXPECT_EQ(DescrambleText("abcd").size(), 4);
}

TEST(DescrambleText, ScrambleIsItsInverse) {
    for (const QByteArray& text :
         {QByteArray("1"), QByteArray("http://127.0.0.1:8790"), QByteArray(200, '\xff')}) {
        EXPECT_EQ(DescrambleText(ScrambleText(text)), text);
        EXPECT_EQ(ScrambleText(DescrambleText(text)), text);
    }
}

TEST(DescrambleText, FitsOnOneLineRejectsLineEndsAndZeros) {
    EXPECT_TRUE(FitsOnOneLine(ScrambleText("http://127.0.0.1/cgi-bin/search?q=")));
    EXPECT_FALSE(FitsOnOneLine(QByteArray("a\nb")));
    EXPECT_FALSE(FitsOnOneLine(QByteArray("a\rb")));
    EXPECT_FALSE(FitsOnOneLine(QByteArray("a\0b", 3)));
}
