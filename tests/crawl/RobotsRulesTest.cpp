#include "crawl/RobotsRules.h"

#include <gtest/gtest.h>

TEST(RobotsRules, TheGroupNamingTheAgentDecidesByLongestMatch) {
    const QByteArray robots = "\xEF\xBB\xBF# comment\n"
                              "User-agent: *\n"
                              "Disallow: /\n"
                              "Crawl-delay: 30\n"
                              "\n"
                              "User-agent: OtherBot\n"
                              "User-agent: pellmar/2.0\n"
                              "Disallow: /private/\n"
                              "Allow: /private/open/\n"
                              "Disallow: /*.wav$\n"
                              "Disallow: /caf%c3%a9/\n"
                              "Disallow: /tmp*/old\n"
                              "Allow: /same\n"
                              "Disallow: /same\n"
                              "Crawl-delay: 2.5\n"
                              "User-agent: Pell\n"
                              "Disallow: /music/\n"
                              "User-agent: SomeoneElse\n"
                              "Disallow: /music/\n";
    const RobotsRules rules = RobotsRules::parse(robots);
    struct Row {
        QByteArray path;
        bool allowed;
    };
    const QList<Row> rows = {
        {"/", true},
        {"/music/a.mp3", true},
        {"/private/", false},
        {"/private/x.mp3", false},
        {"/private/open/x.mp3", true},
        {"/a/b.wav", false},
        {"/a/b.wav?x=1", true},
        {"/caf%C3%A9/x", false},
        {"/caf\xC3\xA9/x", false},
        {"/tmp/old", false},
        {"/tmp1/2/old/x", false},
        {"/tmp/new", true},
        {"/same", true},
        {"/robots.txt", true},
    };
    for (const Row& row : rows)
        EXPECT_EQ(rules.allows(row.path), row.allowed) << row.path.constData();
    EXPECT_EQ(rules.crawlDelaySeconds(), 3);
}

TEST(RobotsRules, FallsBackToTheStarGroupAndEmptyDisallowAllows) {
    const QByteArray robots = "User-agent: *\nDisallow: /cgi-bin/\nCrawl-delay: 999999999\n"
                              "User-agent: Pellmar\nDisallow:\n";
    EXPECT_TRUE(RobotsRules::parse(robots).allows("/cgi-bin/x"));
    EXPECT_EQ(RobotsRules::parse(robots).crawlDelaySeconds(), 0);
    const RobotsRules star = RobotsRules::parse(robots, "Otherbot");
    EXPECT_FALSE(star.allows("/cgi-bin/x"));
    EXPECT_TRUE(star.allows("/music/"));
    EXPECT_EQ(star.crawlDelaySeconds(), RobotsRules::kMaxCrawlDelay);
    EXPECT_TRUE(RobotsRules::parse("").allows("/anything"));
    EXPECT_TRUE(RobotsRules::parse("Disallow: /\n").allows("/x")); // no group: no rule
}

// Past 512 KiB the file is cut at its last whole line; a wildcard pattern against a long
// path stays bounded.
TEST(RobotsRules, ReadsOnlyTheFirst512KiB) {
    QByteArray robots = "User-agent: *\nDisallow: /early\n";
    robots += QByteArray(RobotsRules::kMaxBytes, '#') + "\nDisallow: /late\n";
    const RobotsRules rules = RobotsRules::parse(robots);
    EXPECT_FALSE(rules.allows("/early"));
    EXPECT_TRUE(rules.allows("/late"));
    const RobotsRules stars = RobotsRules::parse("User-agent: *\nDisallow: /*a*a*a*a*b$\n");
    EXPECT_TRUE(stars.allows("/" + QByteArray(20000, 'a')));
    EXPECT_FALSE(stars.allows("/" + QByteArray(200, 'a') + "b"));
}

// Rules are looked up by the pieces a path holds: pieces that overlap, repeat, or are shared
// by many rules still give the longest match.
TEST(RobotsRules, ManyRulesSharingPiecesStillDecideByLongestMatch) {
    QByteArray robots = "User-agent: *\n";
    for (int i = 0; i < 20000; ++i)
        robots += "Disallow: /*z" + QByteArray::number(10000 + i) + "*q\n";
    robots += "Allow: /*z12345*qq\n"
              "Disallow: /aa*aab\n"
              "Disallow: /x*abab*b$\n"
              "Allow: /x*\n"
              "Disallow: /*.mp3*.mp3$\n"
              "Disallow: *nowhere\n";
    const RobotsRules rules = RobotsRules::parse(robots);
    struct Row {
        QByteArray path;
        bool allowed;
    };
    const QList<Row> rows = {
        {"/a/z12000/q", false}, {"/a/z12000/", true},   {"/a/q/z12000", true},
        {"/a/z12345/q", false}, {"/a/z12345/qq", true}, {"/z29999q", false},
        {"/z30000q", true},     {"/aaab", true},        {"/aab", true},
        {"/aaaab", false},      {"/xababab", false},    {"/xabab", true},
        {"/xaba", true},        {"/a.mp3.mp3", false},  {"/a.mp3", true},
        {"/anowhere", false},   {"/nowher", true},      {"/", true},
    };
    for (const Row& row : rows)
        EXPECT_EQ(rules.allows(row.path), row.allowed) << row.path.constData();
}
