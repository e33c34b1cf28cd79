#pragma once

#include "crawl/CrawlTypes.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

// What the service's index holds and answers, whichever engine keeps it.

// One indexed MP3 file of the library: where it is and what it is called.
struct IndexedFile {
    QString path; // relative to the library, '/' between folders
    qint64 size = 0;
    QString artist;
    QString title;
    FrameHeader frame; // what the file's head tells of its quality; frame.error when unread

    // The name shown on result pages: "Artist - Title.mp3" from the tags when both are
    // known, otherwise the file's own name.
    QString displayName() const;
};

// What the index knows of a library file's state on disk, to find what a scan changed.
struct LibraryStamp {
    qint64 size = 0;
    qint64 modified = 0;    // seconds since the epoch
    int qualityVersion = 0; // the reading of its quality; an older one is read again
};

// A library file to add or replace, with the time it was last changed on disk.
struct LibraryChange {
    IndexedFile file;
    qint64 modified = 0;
};

struct ScanSummary {
    int files = 0;
    int added = 0; // new or changed since the last scan
    int removed = 0;
};

// What the crawler reports of its sources for the status page; called from the workers.
using CrawlStates = std::function<QList<CrawlSourceState>()>;

// What the status page may do with the service's crawler besides watching it.
struct CrawlControl {
    QStringList problems;           // source lines not crawled, and warnings about them
    std::function<bool()> crawlNow; // starts a crawl (false: one is under way); empty: none
};

// A crawled file that a search found, with what the index knows of its source.
struct CrawledHit {
    QString sourceId;
    QUrl sourceUrl; // the source's folder URL with its user name (the FTP login), never a password
    QString path;   // below the source's folder, '/' between segments
    qint64 size = -1;
    QString artist;
    QString title;
    bool hasQuality = false; // the head was read and held a frame header
    int bitrate = 0;         // kbit/s: the average for ABR and VBR
    int sampleRate = 0;      // Hz
    QString mode;            // "Stereo", "Joint Stereo", "Dual Channel" or "Mono"
    AudioQuality quality;    // rate mode, duration, encoder, verdict

    QString scheme() const { return sourceUrl.scheme(); }
};

// Which library files a search wants by their quality.
struct QualityFilter {
    int minBitrate = 0; // above 0: only files whose quality is known and reaches it (the
                        // average of ABR and VBR files)
    bool hideTranscodes = false;
    bool any() const { return minBitrate > 0 || hideTranscodes; }
};

// Which crawled files a search wants.
struct CrawlFilter {
    QStringList schemes = {QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("ftp"),
                           QStringLiteral("smb")};
    int minBitrate = 0; // above 0: only files whose quality is known and reaches it (the
                        // average of ABR and VBR files)
    bool hideTranscodes = false;
    // Sources whose files the service relays itself (see LoginRelay): the program fetches
    // them over HTTP, so their files count as "http" whatever the source's scheme.
    QStringList relayed;
};

// A source as the index knows it, for the status page.
struct IndexedSource {
    QString id;
    QString url;                         // without user name and password
    QString kind;                        // the URL's scheme
    qint64 lastCrawl = 0;                // the number of the newest walk, 0 before the first
    QDateTime lastStarted, lastFinished; // UTC; invalid when none
    bool running = false; // a walk began and has not ended (or the service stopped in it)
    bool stale = false;   // the last walk ended early: old entries kept
    QString lastError;
    qint64 folders = 0, files = 0, filesWithQuality = 0;
    qint64 filesVariable = 0;   // ABR or VBR
    qint64 filesTranscoded = 0; // judged "transcoded"

    // A source's URL as shown and as its id: no user name, no password.
    static QString shownUrl(const QUrl& url);
};

// A site reported through one of the "/cgi-bin/" submission requests.
struct Submission {
    QString kind; // "ftp", "http", "smb" or "mysmb"
    QString site; // as sent; for "mysmb" the caller's address
    QString from; // the caller's address
    QDateTime received;
};
