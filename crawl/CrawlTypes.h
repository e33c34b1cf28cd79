#pragma once

#include "core/FrameHeader.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// What the crawler of other machines' servers hands between its parts: the listing readers
// produce RemoteEntry rows, the head reader a FileHead, and the walk reports each folder to
// a CrawlSink, which keeps the index.

// One row of a folder listing (HTTP page, FTP MLSD or LIST, SMB directory), its name
// already made safe: one path segment, valid UTF-8, no control characters, no '/', not
// "." or "..", at most 255 bytes. Rows the readers cannot make safe are dropped.
struct RemoteEntry {
    QString name;
    bool folder = false;
    qint64 size = -1;   // bytes; -1 when the listing does not say
    QDateTime modified; // UTC; invalid when the listing does not say
    QUrl url;           // HTTP: the absolute URL of the link; empty for FTP and SMB
    QString linkTarget; // FTP LIST and SMB: where a symbolic link points, else empty
};

// What the first bytes (and, where read, the last 128 bytes) of a remote MP3 file tell.
struct FileHead {
    static constexpr qint64 kFirstRead = 64 * 1024; // bytes asked for first
    static constexpr qint64 kMaxRead = 1024 * 1024; // never more, even past a large ID3v2 tag

    FrameHeader frame; // frame.error is not empty when no first frame could be read
    QString artist;    // from ID3v2 (TPE1/TP1), else ID3v1; empty when neither says
    QString title;     // from ID3v2 (TIT2/TT2), else ID3v1

    bool hasQuality() const { return frame.error.isEmpty(); }
};

// One crawled file, as the index keeps it.
struct CrawledFile {
    QString path;          // below the source's root folder, '/' between segments, no leading '/'
    qint64 size = -1;      // -1 when unknown
    QDateTime modified;    // UTC; invalid when unknown
    QByteArray etag;       // HTTP strong validator when the server sent one
    bool headRead = false; // the head was read (quality may still be missing: head.frame.error)
    FileHead head;
};

// One configured place to crawl: an http(s)://, ftp:// or smb:// URL. The id is stable for
// the same URL across restarts (the URL without credentials, normalised).
struct CrawlSource {
    QString id;
    QUrl url;               // credentials for FTP may sit in the URL; never logged or shown
    QString credentialFile; // SMB: a file with "username = ", "password = ", "domain = " lines
};

// How a source's walks go, for the progress lines and the status page. The crawler updates
// it; readers take a copy under the crawler's lock.
struct CrawlProgress {
    bool running = false;
    qint64 pages = 0;       // listings read in the current (or last) walk
    qint64 files = 0;       // files seen
    qint64 heads = 0;       // heads read
    qint64 bytes = 0;       // bytes received
    qint64 errors = 0;      // requests that failed
    QStringList lastErrors; // newest last, at most 10, never holding a credential
    QDateTime lastStarted, lastFinished, nextStart; // UTC; invalid when none
    bool stale = false; // the last walk ended early: old entries are kept
    QString waiting;    // what the source waits for before its walk, e.g. another crawler
};

// What a finished walk could not read: folders (kept with everything below them) and files
// (kept with their old figures).
struct WalkErrors {
    int folders = 0;
    int files = 0;
};

// Where a walk reports what it found. Each call is one step the index makes atomically:
// a reader of the index never sees half a folder.
// A call may throw (std::exception) when the index fails: the walk of that source ends
// there, without another call, and the crawler walks the source again after a pause.
class CrawlSink {
public:
    virtual ~CrawlSink() = default;

    // A new walk of the source begins; returns its number (increasing per source).
    virtual qint64 beginCrawl(const CrawlSource& source) = 0;

    // What the index holds of a folder from the last walk that saw it: the fingerprint of
    // its listing (empty when unknown) and its files. An unchanged fingerprint lets a walk
    // keep the folder (and its quality readings) without reading any head again.
    virtual QByteArray folderFingerprint(const CrawlSource& source, const QString& folder) = 0;
    virtual QList<CrawledFile> folderFiles(const CrawlSource& source, const QString& folder) = 0;

    // The folder as this walk saw it: its files replace the old ones in one transaction
    // (folder is '' for the root, else like CrawledFile::path, without a trailing '/').
    virtual void storeFolder(const CrawlSource& source, qint64 crawl, const QString& folder,
                             const QByteArray& fingerprint, const QList<CrawledFile>& files) = 0;
    // The folder's listing is unchanged: its own files stay, as seen by crawl (its
    // subfolders are still walked and reported on their own).
    virtual void keepFolder(const CrawlSource& source, qint64 crawl, const QString& folder) = 0;

    // The folder could not be listed: it and everything below it stay as they were, as seen
    // by crawl (what lies below cannot be told from what is gone).
    virtual void keepSubtree(const CrawlSource& source, qint64 crawl, const QString& folder) = 0;

    // The walk reached every folder it could: folders and files this crawl did not see (nor
    // kept) leave the index. errors tells what could not be read, for the status page.
    virtual void finishCrawl(const CrawlSource& source, qint64 crawl, const WalkErrors& errors) = 0;
    // The walk ended early (the server went away, the service stops): the old entries stay,
    // marked stale, with the reason shown on the status page.
    virtual void abandonCrawl(const CrawlSource& source, qint64 crawl, const QString& reason) = 0;
};

// A source with its walk's progress, as the crawler hands it to the status page.
struct CrawlSourceState {
    CrawlSource source;
    CrawlProgress progress;
};
