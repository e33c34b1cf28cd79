#pragma once

#include <QString>
#include <QtGlobal>
#include <chrono>

// How far and how hard a walk goes. The defaults suit a music server on a home network.
struct CrawlLimits {
    int perHost = 4;       // requests in flight to one host
    int maxPages = 100000; // listings read per source and walk
    int maxDepth = 16;     // folders below the source's folder (music trees are shallow)
    qint64 maxListingBytes = 32 * 1024 * 1024;
    std::chrono::seconds retryAfterCap{300}; // longest pause a server may ask for
    std::chrono::seconds crawlDelayCap{30};  // longest robots.txt Crawl-delay honoured
    std::chrono::seconds connectTimeout{15};
    std::chrono::seconds lowSpeedTime{30}; // slower than lowSpeedBytes/s this long: give up
    long lowSpeedBytes = 100;
    std::chrono::seconds transferTimeout{600}; // no request runs longer
    // Idle connections libcurl keeps open for each walk (the oldest is closed beyond); 0
    // leaves it to libcurl (four for each transfer under way).
    long idleConnections = 0;
    int maxRetries = 4;        // of a request answered 429/503
    int maxFailuresInARow = 8; // transport failures with no answer between: the server is gone
    int maxErrors = 1000;      // failed requests in one walk before it is given up
    bool readHeads = true;     // false: names, sizes and dates only (a quick look)
    // A crawl the user asked for: files whose listing cannot vouch for them (a date to the
    // minute only) are read again, as a retagged file of the same size looks unchanged.
    bool forced = false;
    // A walk the index failed (a sink or lease call threw) is walked again after this pause,
    // doubled after each failure in a row up to the most.
    std::chrono::milliseconds indexRetryFirst{1000};
    std::chrono::milliseconds indexRetryMost{30000};

    // Why a walk that had more folders than maxPages ended (its old entries stay).
    static QString pageLimitReason(int maxPages) {
        return QStringLiteral("stopped at the page limit (%1 listings)").arg(maxPages);
    }
};
