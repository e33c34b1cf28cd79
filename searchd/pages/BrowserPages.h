#pragma once

#include "searchd/index/IndexTypes.h"
#include "searchd/pages/FoundFiles.h"
#include "searchd/pages/SongGroups.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

// One source on the status page: what the index holds of it and how its walks go.
struct SourceStatus {
    QString url; // never with a user name or password
    QString kind;
    qint64 folders = 0, files = 0, filesWithQuality = 0;
    qint64 filesVariable = 0, filesTranscoded = 0;
    QDateTime lastCrawl;    // when the last walk ended (or began, while the first one runs)
    QDateTime nextCrawl;    // invalid when none is planned
    QString state;          // "running", "idle" or "stale"
    QStringList lastErrors; // oldest first, at most 10
};

// What the status page shows: the sources, the lines that are not crawled, and whether a
// crawl can be started from it.
struct StatusView {
    QList<SourceStatus> sources;
    QStringList problems;
    bool canCrawlNow = false;
    QString said; // "started" or "busy" after the page's own "Crawl now"
};

// What the search page shows: the form's values and one page of results.
struct SearchPageView {
    QString words;
    QString kind = QStringLiteral("all"); // all, library, http, ftp, smb
    int minBitrate = 0;
    bool hideTranscodes = false;
    int page = 1;
    int pageSize = 20;
    int total = 0;          // files, or songs when grouped
    QList<FoundFile> hits;  // the files of the page, for format=json
    QList<Song> songs;      // the songs of the page, for the HTML page and group=song
    int files = 0;          // files that match, when grouped
    bool allGrouped = true; // false: only the first files that match were grouped
    bool searched = false;  // words were given
    int libraryFiles = 0;
};

// The pages for people's browsers: a search form with its results and the sources' crawl
// state. Plain UTF-8 HTML with a little CSS; the search page's one small script only sorts
// its table, and the page works fully without it. Every text is escaped.
namespace BrowserPages {

// The index's sources and the crawler's, one row per source id, sorted by URL. Any
// password of a source is blanked out of its errors.
QList<SourceStatus> sourceStatus(const QList<IndexedSource>& indexed,
                                 const QList<CrawlSourceState>& crawling);

QByteArray statusHtml(const StatusView& view);
QByteArray statusJson(const StatusView& view);

// The search page with one row a song (view.songs); link gives each file's URL (the
// library's files are served by this service).
QByteArray searchHtml(const SearchPageView& view,
                      const std::function<QByteArray(const FoundFile&)>& link);
// The search's files (view.hits) as {"files": [...], "total": N}: each file's kind, name,
// url, size and quality (null where unknown).
QByteArray searchJson(const SearchPageView& view,
                      const std::function<QByteArray(const FoundFile&)>& link);
// The search's songs (view.songs) as {"songs": [...], "total": N}: each song's artist,
// title, durationSeconds, inLibrary, libraryBitrate and sources, best first, each as a file
// of searchJson.
QByteArray songsJson(const SearchPageView& view,
                     const std::function<QByteArray(const FoundFile&)>& link);

// One page of the submitted sites (shown: newest first) of total, with links to the pages
// of newer and older ones.
QByteArray submissionsHtml(const QList<Submission>& shown, int total, int page, int pageSize);

// A page of this service around body (HTML), with the pages' style sheet.
QByteArray pageHtml(const QString& title, const QString& body);

// The Content-Security-Policy of every page: nothing from elsewhere but the audio the
// search page plays, the pages' own style sheet and sorting script alone, forms to this
// service only, no frames around them.
QByteArray securityPolicy();

} // namespace BrowserPages
