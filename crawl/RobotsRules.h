#pragma once

#include "crawl/PieceFinder.h"

#include <QByteArray>
#include <QList>
#include <unordered_map>
#include <vector>

// A site's robots.txt: the Allow and Disallow rules and the Crawl-delay of the groups that
// name this crawler's product token (case-insensitive, "Pellmar" of "Pellmar/3.2"), else of
// the "*" groups. The longest matching rule decides, an
// Allow wins a tie; patterns may hold '*' (any bytes) and end with '$' (the path's end).
// Only the first 512 KiB are read: a larger file is cut there, its last line dropped.
class RobotsRules {
public:
    static constexpr qsizetype kMaxBytes = 512 * 1024;
    static constexpr int kMaxCrawlDelay = 86400;

    static RobotsRules parse(const QByteArray& body, const QByteArray& agent = "Pellmar");

    // path: the URL's path as sent (percent-encoded), with its query when it has one. One
    // pass over the path finds every pattern piece in it, so a file of many rules costs
    // little more per path than one of a few.
    bool allows(const QByteArray& path) const;
    int crawlDelaySeconds() const { return m_crawlDelay; } // 0 when none

private:
    using Ends = std::unordered_map<int, std::vector<qsizetype>>; // piece -> ends in the path

    struct Rule {
        std::vector<int> pieces; // the pattern between its '*': piece ids, -1 when empty
        bool anchored = false;   // the pattern ended with '$'
        qsizetype length = 0;    // the pattern's length, for the longest match
        bool allow = false;
    };

    void compile(const QList<QList<QByteArray>>& patterns);
    bool matches(const Rule& rule, const Ends& ends, qsizetype size) const;
    qsizetype startFrom(int piece, qsizetype at, const Ends& ends, qsizetype size) const;

    std::vector<Rule> m_rules;
    std::vector<qsizetype> m_pieceLength;
    std::vector<std::vector<int>>
        m_rulesByKey;           // per piece: the rules only looked at when it occurs
    std::vector<int> m_keyless; // rules without a piece: looked at always
    PieceFinder m_finder;
    int m_crawlDelay = 0;
};
