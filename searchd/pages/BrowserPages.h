#pragma once

#include "searchd/index/IndexTypes.h"
#include "searchd/pages/FoundFiles.h"

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
    int total = 0;
    QList<FoundFile> hits;
    bool searched = false; // words were given
    int libraryFiles = 0;
};

// The pages for people's browsers: a search form with its results and the sources' crawl
// state. Plain UTF-8 HTML with a little CSS and no script; every text is escaped.
namespace BrowserPages {

// The index's sources and the crawler's, one row per source id, sorted by URL. Any
// password of a source is blanked out of its errors.
QList<SourceStatus> sourceStatus(const QList<IndexedSource>& indexed,
                                 const QList<CrawlSourceState>& crawling);

QByteArray statusHtml(const StatusView& view);
QByteArray statusJson(const StatusView& view);

// link gives each hit's URL (the library's files are served by this service).
QByteArray searchHtml(const SearchPageView& view,
                      const std::function<QByteArray(const FoundFile&)>& link);
// The same page as {"files": [...], "total": N}: each file's kind, name, url, size and
// quality (null where unknown).
QByteArray searchJson(const SearchPageView& view,
                      const std::function<QByteArray(const FoundFile&)>& link);

// One page of the submitted sites (shown: newest first) of total, with links to the pages
// of newer and older ones.
QByteArray submissionsHtml(const QList<Submission>& shown, int total, int page, int pageSize);

// A page of this service around body (HTML), with the pages' style sheet.
QByteArray pageHtml(const QString& title, const QString& body);

// The Content-Security-Policy of every page: no script, nothing from elsewhere, the pages'
// own style sheet, forms to this service only, no frames around them.
QByteArray securityPolicy();

} // namespace BrowserPages
