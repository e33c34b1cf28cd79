#pragma once

#include "crawl/CrawlLimits.h"
#include "crawl/CrawlTypes.h"
#include "crawl/FolderPlan.h"
#include "crawl/RobotsRules.h"
#include "crawl/WalkEnd.h"
#include "crawl/WalkPolicy.h"

#include <QHash>
#include <atomic>
#include <curl/curl.h>
#include <deque>
#include <map>
#include <memory>
#include <optional>

class HeadJudges;
class HostLimits;
class ProgressBoard;
class CurlWalk;

// One HTTP or FTP request of a walk, with what came back. The crawler's libcurl loop
// runs it; the walk decides what it means.
struct CurlRequest {
    enum Kind { Robots, Listing, Head };
    Kind kind = Listing;
    CurlWalk* walk = nullptr;
    QUrl url;
    int retries = 0;
    qint64 maxBytes = 0; // the body stops here (overflow is set)
    bool mlsd = false;   // FTP listing by MLSD, else LIST
    QByteArray range;    // CURLOPT_RANGE, empty for none
    // Listing
    QString folder;   // relative, '' for the root
    QString realPath; // FTP: the server's path of the folder, for links
    int depth = 0;
    int hops = 0;                   // redirects followed (listings and robots.txt)
    bool maybeFolder = false;       // a link that may or may not be a folder
    WalkPolicy::LineagePtr lineage; // the listings of the folder's ancestors
    // Head
    int openFolder = -1;
    int file = -1;
    HeadRead::Range part;
    // Filled in by the loop
    QByteArray body;
    bool overflow = false;
    QByteArray contentType, retryAfter, location, contentRange, contentLength, etag;
    long status = 0;
    CURLcode result = CURLE_OK;
    bool reused = false; // went over a connection kept from an earlier transfer
    bool fresh = false;  // asked again on a new connection: the kept one had died
};

// The walk of one HTTP(S) or FTP source in one crawl: which folders and heads to fetch
// next, and what each answer means for the index. Runs on the crawler's libcurl thread.
// A sink call that throws ends the walk at once (WalkEnd::IndexFailed): no call of the
// walk's public functions lets an exception out, and none calls the sink after it.
class CurlWalk {
public:
    // stop: the crawl stops; a long listing is left at once.
    CurlWalk(int index, const CrawlSource& source, CrawlSink& sink, const CrawlLimits& limits,
             HostLimits& hosts, HeadJudges& judges, ProgressBoard& board,
             const std::atomic<bool>& stop);
    ~CurlWalk(); // after the loop dropped its requests
    CurlWalk(const CurlWalk&) = delete;
    CurlWalk& operator=(const CurlWalk&) = delete;

    // The walk's own connections: its transfers share them with no other walk's, so that an
    // FTP connection never meets an HTTP transfer (libcurl 7.88 then gives the HTTP transfer
    // the FTP server's reply code).
    CURLSH* connections() const { return m_connections; }
    QString host() const { return m_host; }
    void begin();
    // The next request to start, or null when none may start now.
    std::unique_ptr<CurlRequest> next();
    void finished(std::unique_ptr<CurlRequest> request);
    // Names the walk's jobs in the judges: results for a walk that is gone are dropped.
    quint64 serial() const { return m_serial; }
    // A head submitted to the judges came back (ok false: its reading failed).
    void judged(int folder, int file, bool ok, FileHead head);
    // Ends the walk early: the folders waiting for heads are stored with what was read (the
    // others keep their old figures), the index keeps the old entries, marked stale.
    void abandon(const QString& reason);
    // Another crawler holds the source now: the walk ends without a word more to the sink.
    void lose();
    bool ended() const { return m_ended; }
    bool done() const { return m_ended && m_inFlight == 0; }
    WalkResult result() const { return m_result; }
    void requestDropped() { --m_inFlight; }
    // Ends a walk that has nothing left to ask (finishCrawl, or abandonCrawl when cut short).
    void maybeFinish();

private:
    struct OpenFolder {
        FolderPlan plan;
        QList<QUrl> urls; // per file
        std::map<int, HeadRead> reads;
        int left = 0;
    };
    struct HeadTask {
        int folder;
        int file;
    };
    // A folder still to list. A server decides how many there are: each is kept small, and
    // their number counts against the page limit.
    struct QueuedFolder {
        QByteArray url;   // encoded
        QString folder;   // relative, '' for the root
        QString realPath; // FTP: the server's path of the folder, for links; else empty
        int depth = 0;
        bool maybeFolder = false; // a link that may or may not be a folder
        WalkPolicy::LineagePtr lineage;
    };

    template <typename Step> void guard(Step step) {
        try {
            step();
        } catch (const std::exception& error) {
            endWalk(WalkEnd::IndexFailed);
            m_result.reason = QString::fromLocal8Bit(error.what());
        }
    }
    void endWalk(WalkEnd end);
    std::unique_ptr<CurlRequest> nextRequest();
    void answered(std::unique_ptr<CurlRequest> request);
    void finishIfDone();
    bool isFtp() const { return m_ftp; }
    bool onSourceServer(const QUrl& url) const; // same scheme, host and port
    bool inside(const QUrl& url) const;
    std::unique_ptr<CurlRequest> listingRequest(std::unique_ptr<CurlRequest> request);
    std::unique_ptr<CurlRequest> takeFolder();
    void robotsDone(std::unique_ptr<CurlRequest> request);
    void listingDone(std::unique_ptr<CurlRequest> request);
    void headDone(std::unique_ptr<CurlRequest> request);
    void readListing(const CurlRequest& request, const QList<RemoteEntry>& entries);
    void folderFailed(const CurlRequest& request, const QString& why, bool keep);
    void fileHeadDone(int folder, int file, bool read);
    void fileSettled(OpenFolder& open, int folder, int file);
    void storeWhatWasRead();
    bool retryLater(std::unique_ptr<CurlRequest>& request);
    QString describe(const CurlRequest& request) const;
    QUrl ftpFolderUrl(const QString& folder) const;

    int m_index;
    CrawlSource m_source;
    CrawlSink& m_sink;
    CrawlLimits m_limits;
    HostLimits& m_hosts;
    HeadJudges& m_judges;
    quint64 m_serial;
    int m_judging = 0; // heads with the judges
    ProgressBoard& m_board;
    const std::atomic<bool>& m_stop;
    QString m_host;
    QUrl m_root;
    QByteArray m_rootPath; // percent-encoded, ends in '/'
    bool m_ftp = false;
    qint64 m_crawl = 0;

    enum class Mlsd { Unknown, Yes, No } m_mlsd = Mlsd::Unknown;
    bool m_robotsAsked = false;
    std::optional<RobotsRules> m_robots;

    std::deque<std::unique_ptr<CurlRequest>> m_retry; // asked again after a pause
    std::deque<QueuedFolder> m_waiting;               // listings to ask
    std::deque<HeadTask> m_heads;
    std::map<int, OpenFolder> m_open;
    int m_nextOpen = 0;
    WalkPolicy m_policy;
    CURLSH* m_connections;
    int m_pagesAsked = 0;
    int m_inFlight = 0;
    bool m_ended = false;
    WalkResult m_result;
};
