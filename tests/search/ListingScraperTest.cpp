#include "search/ListingScraper.h"
#include "core/TextHelpers.h"
#include "support/TestSeed.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

// Always the last remaining record: the records come out in reverse order.
int lastOne(int n) {
    return n - 1;
}

QList<QByteArray> reversed(QList<QByteArray> list) {
    std::reverse(list.begin(), list.end());
    return list;
}

} // namespace

TEST(ListingScraper, FtpTreesBecomeFlatRecords) {
    const QByteArray listing = "a.mp3\t10\r\n" // before any host line
                               "me@h:21\t/Rock/\tb.mp3\t20\textra\r\n"
                               "\tc.mp3\t30\r\n"
                               "\t\t\\Other\\\td.mp3\t40\r\n"
                               "\t\r\n"                          // no fields at all
                               "\t.\t0\r\n\t\t\\Up\\\t..\t0\r\n" // folders, not files
                               "z@w:1\t/G/\t..\r\n"
                               "x@y:1\t/F/\r\n";
    EXPECT_EQ(reversed(ScrapeFtpListing(SplitLines(listing), lastOne)),
              (QList<QByteArray>{"\t\ta.mp3\t10", "me@h:21\t/Rock/\tb.mp3\t20\textra",
                                 "me@h:21\t/Rock/\tc.mp3\t30", "me@h:21\t\\Other\\\td.mp3\t40",
                                 "me@h:21\t\\Other\\\t\t", "x@y:1\t/F/\t\t"}));
}

TEST(ListingScraper, SmbHostLinesStartWithADigit) {
    const QByteArray listing = "10.0.0.5\t\\mp3\\A\\\ta.mp3\t1\r\n"
                               "\t\\mp3\\B\\\tb.mp3\t2\r\n"
                               "\tc.mp3\t3\r\n"
                               "\t9.9.9.9\tnot a host\r\n"
                               "\t.\t4\r\n\t..\t4\r\n"
                               "host:1\td.mp3\t4\r\n";
    EXPECT_EQ(reversed(ScrapeSmbListing(SplitLines(listing), lastOne)),
              (QList<QByteArray>{"10.0.0.5\t\\mp3\\A\\\ta.mp3\t1", "10.0.0.5\t\\mp3\\B\\\tb.mp3\t2",
                                 "10.0.0.5\t\\mp3\\B\\\tc.mp3\t3",
                                 "10.0.0.5\t\\mp3\\B\\\t9.9.9.9\tnot a host",
                                 "10.0.0.5\t\\mp3\\B\\\thost:1\td.mp3\t4"}));
}

TEST(ListingScraper, RecordsComeInRandomOrder) {
    QList<QByteArray> lines;
    for (int i = 0; i < 50; ++i)
        lines.append("\tf" + QByteArray::number(i) + ".mp3\t1");
    const auto shuffled = [&](quint32 seed) {
        QRandomGenerator generator(seed);
        return ScrapeFtpListing(lines, [&](int n) { return int(generator.bounded(n)); });
    };
    const TestSeed seed(1);
    const QList<QByteArray> one = shuffled(seed.value());
    EXPECT_NE(one, shuffled(seed.value() + 1));
    EXPECT_EQ(one, shuffled(seed.value()));
    QList<QByteArray> sorted = one;
    std::sort(sorted.begin(), sorted.end());
    QList<QByteArray> expected = ScrapeFtpListing(lines, lastOne);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted, expected);
}

TEST(ListingScraper, DeepAndBrokenTreesOfAnySize) {
    QList<QByteArray> lines;
    for (int i = 0; i < 200000; ++i)
        lines.append(i % 3 ? QByteArray(i % 50, '\t') + "\\" + QByteArray(i % 7, '\\')
                           : QByteArray("1:\t\t"));
    EXPECT_EQ(ScrapeSmbListing(lines, lastOne).size(), 200000);
    EXPECT_EQ(ScrapeFtpListing({QByteArray(1 << 22, '\t')}, lastOne), QList<QByteArray>{"\t\t\t"});
}
