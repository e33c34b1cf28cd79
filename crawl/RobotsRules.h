#pragma once

#include <QByteArray>
#include <QList>

// A site's robots.txt: the Allow and Disallow rules and the Crawl-delay of the group that
// names this crawler's agent, else of the "*" group. The longest matching rule decides, an
// Allow wins a tie; patterns may hold '*' (any bytes) and end with '$' (the path's end).
// Only the first 512 KiB are read: a larger file is cut there, its last line dropped.
class RobotsRules {
public:
    static constexpr qsizetype kMaxBytes = 512 * 1024;
    static constexpr int kMaxCrawlDelay = 86400;

    static RobotsRules parse(const QByteArray& body, const QByteArray& agent = "Pellmar");

    // path: the URL's path as sent (percent-encoded), with its query when it has one.
    bool allows(const QByteArray& path) const;
    int crawlDelaySeconds() const { return m_crawlDelay; } // 0 when none

private:
    struct Rule {
        QList<QByteArray> pieces; // the pattern between its '*', escapes normalised
        bool anchored = false;    // the pattern ended with '$'
        qsizetype length = 0;     // the pattern's length, for the longest match
        bool allow = false;

        bool matches(const QByteArray& path) const;
    };

    QList<Rule> m_rules;
    int m_crawlDelay = 0;
};
