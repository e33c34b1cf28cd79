#include "searchd/http/QueryText.h"

#include <gtest/gtest.h>

using namespace QueryText;

TEST(QueryText, SplitsTargetAtFirstQuestionMark) {
    const Target target = splitTarget("/a/search.asp?since=&searchwords=what?");
    EXPECT_EQ(target.path, "/a/search.asp");
    EXPECT_EQ(target.query, "since=&searchwords=what?");
    EXPECT_EQ(splitTarget("/plain").query, "");
}

TEST(QueryText, WordsValueRunsToTheEndAndKeepsAmpersands) {
    QMap<QByteArray, QByteArray> trailing;
    // The program sends "rock & roll" as rock+&+roll; the paging links add &page=N.
    const auto value =
        openEndedValue("since=&searchwords=rock+&+roll&page=3", "searchwords", {"page"}, &trailing);
    ASSERT_TRUE(value);
    EXPECT_EQ(*value, "rock+&+roll");
    EXPECT_EQ(trailing.value("page"), "3");

    EXPECT_EQ(*openEndedValue("q=a&b=c&leech=y", "q", {"leech"}), "a&b=c");
    EXPECT_EQ(*openEndedValue("q=", "q", {}), "");
    EXPECT_FALSE(openEndedValue("since=&words=x", "searchwords", {}));
    // "q=" inside another value does not count as the parameter.
    EXPECT_FALSE(openEndedValue("xq=1", "q", {}));
}

TEST(QueryText, LenientDecodingKeepsBrokenEscapes) {
    EXPECT_EQ(percentDecode("a%2Fb+%22c%22+d", true), "a/b \"c\" d");
    EXPECT_EQ(percentDecode("100%+sure%", true), "100% sure%");
    EXPECT_EQ(percentDecode("%zz%4", false), "%zz%4");
    EXPECT_EQ(percentDecode("a+b", false), "a+b");
}

TEST(QueryText, StrictDecodingRefusesBrokenEscapes) {
    EXPECT_EQ(*strictPercentDecode("Caf%C3%A9%20Noir.mp3"), "Caf\xC3\xA9 Noir.mp3");
    EXPECT_FALSE(strictPercentDecode("a%2"));
    EXPECT_FALSE(strictPercentDecode("a%G0"));
}

TEST(QueryText, TextIsUtf8OrElseWindows1252) {
    EXPECT_EQ(*decodeText("Bj\xC3\xB6rk"), QStringLiteral("Bj\u00F6rk"));
    // What the program sends: its own code page, unescaped.
    EXPECT_EQ(*decodeText("Bj\xF6rk"), QStringLiteral("Bj\u00F6rk"));
    EXPECT_EQ(*decodeText("\x80 5"), QStringLiteral("\u20AC 5"));
    EXPECT_FALSE(decodeText("tab\there"));
    EXPECT_FALSE(decodeText("undefined \x81 code"));
    EXPECT_FALSE(decodeText(QByteArray("zero\0byte", 9)));
}

TEST(QueryText, PathsMustBeUtf8) {
    EXPECT_EQ(*decodeUtf8("Rock/Caf\xC3\xA9.mp3"), QStringLiteral("Rock/Caf\u00E9.mp3"));
    EXPECT_FALSE(decodeUtf8("Caf\xE9.mp3"));
    EXPECT_FALSE(decodeUtf8("a\nb.mp3"));
}

TEST(QueryText, SearchWordsAreRunsOfLettersAndDigits) {
    EXPECT_EQ(searchWords(QStringLiteral("  AC/DC - \"Back in Black\" (1980) ")),
              QStringList({"AC", "DC", "Back", "in", "Black", "1980"}));
    EXPECT_EQ(searchWords(QStringLiteral("Bj\u00F6rk's_best")),
              QStringList({"Bj\u00F6rk", "s", "best"}));
    EXPECT_TRUE(searchWords(QStringLiteral(" - & ")).isEmpty());
}

TEST(QueryText, EncodedValuesHoldNoLettersAndDecodeBack) {
    const QString text = QStringLiteral("next previous HREF=x & Caf\u00E9 7");
    const QByteArray encoded = encodeValue(text);
    EXPECT_EQ(encoded.indexOf("next"), -1);
    for (const char c : encoded)
        EXPECT_FALSE((c >= 'a' && c <= 'z') || (c >= 'G' && c <= 'Z')) << encoded.constData();
    EXPECT_EQ(*decodeText(percentDecode(encoded, true)), text);
}

TEST(QueryText, PathsKeepSlashesAndEscapeTheRest) {
    EXPECT_EQ(encodePath(QStringLiteral("Rock/Harbor & Vine - 50%.mp3")),
              "Rock/Harbor%20%26%20Vine%20-%2050%25.mp3");
    EXPECT_EQ(encodePath(QStringLiteral("Caf\u00E9>\"x\".mp3")), "Caf%C3%A9%3E%22x%22.mp3");
}
