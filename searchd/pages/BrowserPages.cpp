#include "searchd/pages/BrowserPages.h"

#include "searchd/http/QueryText.h"
#include "searchd/pages/ResultPages.h"
#include "searchd/pages/SongSearch.h"
#include "searchd/pages/SongTable.h"
#include "searchd/pages/VisibleControls.h"

#include <QCryptographicHash>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <algorithm>

namespace BrowserPages {

namespace {

// Every text a page shows, with its controls made visible first.
QString escapeHtml(const QString& text) {
    return ResultPages::escapeHtml(VisibleControls::shown(text));
}

constexpr int kMaxErrors = 10;

const char* const kStyle =
    "body{font-family:sans-serif;margin:1.5em;color:#222}"
    "table{border-collapse:collapse;margin-top:1em}"
    "th,td{border:1px solid #bbb;padding:.25em .6em;text-align:left;vertical-align:top}"
    "th{background:#eee}td.n{text-align:right;white-space:nowrap}"
    "form{background:#f4f4f4;padding:.8em;display:inline-block}"
    ".none{color:#777}.stale{color:#a40}.running{color:#060}nav{margin-top:1em}"
    ".transcoded{color:#a00;font-weight:bold}.genuine{color:#060}"
    ".wrap{overflow-x:auto}.have{color:#060;font-size:.9em}.src{color:#555}"
    "audio{width:16em;max-width:100%;vertical-align:middle}"
    "details ol{margin:.3em 0;padding-left:1.4em}details li{margin:.4em 0}"
    "summary{cursor:pointer;white-space:nowrap}"
    "th button{font:inherit;font-weight:bold;color:inherit;background:none;border:0;padding:0;"
    "cursor:pointer;text-decoration:underline dotted}"
    "th[aria-sort=ascending] button::after{content:' \\25B2'}"
    "th[aria-sort=descending] button::after{content:' \\25BC'}"
    "a:focus-visible,button:focus-visible,summary:focus-visible,input:focus-visible,"
    "select:focus-visible{outline:3px solid #06c;outline-offset:2px}"
    "@media (max-width:700px){body{margin:.6em}form{display:block}"
    "form label{display:block;margin:.4em 0}input[type=search]{width:100%;box-sizing:border-box}"
    "table.songs,table.songs tbody,table.songs tr,table.songs td{display:block}"
    "table.songs thead tr{display:flex;flex-wrap:wrap}table.songs th{border:0;margin:.1em}"
    "table.songs tr{border:1px solid #bbb;margin:.6em 0;padding:.3em}"
    "table.songs td{border:0;padding:.15em .3em;text-align:left}"
    "table.songs td::before{content:attr(data-label) ': ';font-weight:bold}}";

// script, when given, runs at the page's end, after everything it works on is there.
QString page(const QString& title, const QString& body, const char* script = nullptr) {
    const QString end =
        script ? QStringLiteral("<script>%1</script>\n").arg(QLatin1String(script)) : QString();
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                          "<meta name=\"viewport\" content=\"width=device-width, "
                          "initial-scale=1\"><title>%1</title><style>%2</style></head><body>\n"
                          "%3%4</body></html>\n")
        .arg(escapeHtml(title), QLatin1String(kStyle), body, end);
}

QString timeText(const QDateTime& time) {
    return time.isValid() ? time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"))
                          : QStringLiteral("-");
}

QString blankPassword(QString text, const QUrl& url) {
    const QString password = url.password(QUrl::FullyDecoded);
    if (!password.isEmpty()) {
        text.replace(password, QStringLiteral("***"));
        const QString encoded = url.password(QUrl::FullyEncoded);
        text.replace(encoded, QStringLiteral("***"));
    }
    return text;
}

QString kindLabel(const QString& kind) {
    return kind == QLatin1String("library") ? QStringLiteral("Library") : kind.toUpper();
}

QString cell(const QString& text, bool number = false) {
    return (number ? QStringLiteral("<td class=\"n\">") : QStringLiteral("<td>")) +
           escapeHtml(text) + QStringLiteral("</td>");
}

QString statusRows(const QList<SourceStatus>& sources) {
    QString rows;
    for (const SourceStatus& s : sources) {
        QStringList errors;
        for (const QString& error : s.lastErrors)
            errors.append(escapeHtml(error));
        rows += QStringLiteral("<tr>") + cell(s.url) + cell(kindLabel(s.kind)) +
                QStringLiteral("<td class=\"%1\">%1</td>").arg(escapeHtml(s.state)) +
                cell(QString::number(s.folders), true) + cell(QString::number(s.files), true) +
                cell(QString::number(s.filesWithQuality), true) +
                cell(QString::number(s.filesVariable), true) +
                cell(QString::number(s.filesTranscoded), true) + cell(timeText(s.lastCrawl)) +
                cell(timeText(s.nextCrawl)) + QStringLiteral("<td>") +
                errors.join(QStringLiteral("<br>")) + QStringLiteral("</td></tr>\n");
    }
    return rows;
}

// The search page's own URL for other values of the form.
QString searchLink(const SearchPageView& view, int page) {
    const QByteArray link =
        "/?q=" + QueryText::encodeValue(view.words) + "&kind=" + QueryText::encodeValue(view.kind) +
        "&minbitrate=" + QByteArray::number(view.minBitrate) +
        (view.hideTranscodes ? "&hidetranscodes=1" : "") + "&page=" + QByteArray::number(page);
    return escapeHtml(QString::fromLatin1(link));
}

QString option(const char* value, const char* label, const QString& chosen) {
    const QString v = QString::fromLatin1(value);
    return QStringLiteral("<option value=\"%1\"%2>%3</option>")
        .arg(v, chosen == v ? QStringLiteral(" selected") : QString(), QLatin1String(label));
}

QString searchForm(const SearchPageView& view) {
    return QStringLiteral(
               "<form action=\"/\" method=\"get\"><label>Words <input type=\"search\" "
               "name=\"q\" value=\"%1\" size=\"40\"></label> <label>Kind <select "
               "name=\"kind\">%2</select></label> <label>Minimum bitrate <input "
               "type=\"number\" name=\"minbitrate\" min=\"0\" max=\"1000\" value=\"%3\"> "
               "kbit/s</label> <label><input type=\"checkbox\" name=\"hidetranscodes\" "
               "value=\"1\"%4> Hide transcodes</label> "
               "<button type=\"submit\">Search</button></form>\n")
        .arg(ResultPages::escapeHtml(view.words), // the words as typed, to search again
             option("all", "All", view.kind) + option("http", "HTTP", view.kind) +
                 option("ftp", "FTP", view.kind) + option("smb", "SMB", view.kind) +
                 option("library", "Library", view.kind),
             QString::number(view.minBitrate),
             view.hideTranscodes ? QStringLiteral(" checked") : QString());
}

QJsonObject hitJson(const FoundFile& hit, const QByteArray& link) {
    const qint64 size = hit.fromLibrary ? hit.file.size : hit.crawled.size;
    QJsonObject object{{QStringLiteral("kind"), hit.kind()},
                       {QStringLiteral("name"), hit.file.displayName()},
                       {QStringLiteral("url"), QString::fromLatin1(link)},
                       {QStringLiteral("size"), size >= 0 ? QJsonValue(size) : QJsonValue()}};
    const ShownQuality c = hit.shownQuality();
    const bool known = c.known;
    const AudioQuality& q = c.quality;
    auto value = [known](const QJsonValue& v) { return known ? v : QJsonValue(); };
    object.insert(QStringLiteral("bitrate"), value(c.bitrate));
    object.insert(QStringLiteral("mode"), value(QString::fromLatin1(rateModeName(q.mode))));
    object.insert(QStringLiteral("estimated"), value(q.estimated));
    object.insert(QStringLiteral("sampleRate"), value(c.sampleRate));
    object.insert(QStringLiteral("channelMode"), value(c.channelMode));
    object.insert(QStringLiteral("durationSeconds"),
                  value(q.durationSeconds > 0
                            ? QJsonValue(qRound64(q.durationSeconds * 1000) / 1000.0)
                            : QJsonValue()));
    object.insert(QStringLiteral("encoder"), value(QString::fromLatin1(q.encoder)));
    object.insert(QStringLiteral("lowpassHz"), value(q.lowpassHz));
    object.insert(QStringLiteral("cutoffHz"), value(q.cutoffHz));
    object.insert(QStringLiteral("verdict"), value(QString::fromLatin1(verdictName(q.verdict))));
    object.insert(QStringLiteral("sourceBitrate"), value(q.sourceBitrate));
    return object;
}

QString results(const SearchPageView& view,
                const std::function<QByteArray(const FoundFile&)>& link) {
    if (!view.searched)
        return {};
    if (view.songs.isEmpty())
        return QStringLiteral("<p class=\"none\">No files match these words.</p>\n");
    const int first = (view.page - 1) * view.pageSize + 1;
    const int last = first + static_cast<int>(view.songs.size()) - 1;
    const QString files =
        view.files == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(view.files);
    QString html =
        QStringLiteral("<p>Songs %1 to %2 of %3 (%4).</p>\n")
            .arg(QString::number(first), QString::number(last), QString::number(view.total), files);
    if (!view.allGrouped)
        html += QStringLiteral("<p class=\"none\">Only the first %1 of the %2 files are "
                               "grouped into songs: more words find fewer files.</p>\n")
                    .arg(QString::number(SongSearch::kGroupedFiles), QString::number(view.files));
    html += SongTable::html(view.songs, link) + QStringLiteral("<nav>");
    if (view.page > 1)
        html += QStringLiteral("<a href=\"%1\">Previous page</a> ")
                    .arg(searchLink(view, view.page - 1));
    if (last < view.total)
        html += QStringLiteral("<a href=\"%1\">Next page</a>").arg(searchLink(view, view.page + 1));
    return html + QStringLiteral("</nav>\n");
}

} // namespace

QList<SourceStatus> sourceStatus(const QList<IndexedSource>& indexed,
                                 const QList<CrawlSourceState>& crawling) {
    QHash<QString, CrawlSourceState> live;
    for (const CrawlSourceState& state : crawling)
        live.insert(state.source.id, state);
    QList<SourceStatus> list;
    QSet<QString> listed;
    auto add = [&](const IndexedSource* index, const CrawlSourceState* crawl) {
        SourceStatus s;
        s.url = index ? index->url : IndexedSource::shownUrl(crawl->source.url);
        s.kind = index ? index->kind : crawl->source.url.scheme().toLower();
        if (index) {
            s.folders = index->folders;
            s.files = index->files;
            s.filesWithQuality = index->filesWithQuality;
            s.filesVariable = index->filesVariable;
            s.filesTranscoded = index->filesTranscoded;
            s.lastCrawl = index->lastFinished.isValid() ? index->lastFinished : index->lastStarted;
            if (!index->lastError.isEmpty())
                s.lastErrors.append(index->lastError);
        }
        const bool running = crawl ? crawl->progress.running : index->running;
        const bool stale = (index && index->stale) || (crawl && crawl->progress.stale);
        // Waiting: another crawler of the same index holds the source's lease.
        const bool waiting = crawl && !crawl->progress.waiting.isEmpty();
        s.state = running   ? QStringLiteral("running")
                  : waiting ? QStringLiteral("waiting")
                            : (stale ? QStringLiteral("stale") : QStringLiteral("idle"));
        if (crawl) {
            s.nextCrawl = crawl->progress.nextStart;
            if (!s.lastCrawl.isValid())
                s.lastCrawl = crawl->progress.lastFinished;
            for (const QString& error : crawl->progress.lastErrors)
                if (!s.lastErrors.contains(error))
                    s.lastErrors.append(error);
            for (QString& error : s.lastErrors)
                error = blankPassword(error, crawl->source.url);
        }
        if (s.lastErrors.size() > kMaxErrors)
            s.lastErrors = s.lastErrors.mid(s.lastErrors.size() - kMaxErrors);
        list.append(s);
    };
    for (const IndexedSource& index : indexed) {
        const auto found = live.constFind(index.id);
        add(&index, found == live.cend() ? nullptr : &*found);
        listed.insert(index.id);
    }
    for (const CrawlSourceState& state : crawling)
        if (!listed.contains(state.source.id))
            add(nullptr, &state);
    std::stable_sort(list.begin(), list.end(),
                     [](const SourceStatus& a, const SourceStatus& b) { return a.url < b.url; });
    return list;
}

namespace {

// The button that starts a crawl now (a plain form: no script), and what came of the last.
QString crawlNowForm(const StatusView& view) {
    if (!view.canCrawlNow)
        return QString();
    QString said;
    if (view.said == QLatin1String("started"))
        said = QStringLiteral(" <span class=\"said\">A crawl has started.</span>");
    else if (view.said == QLatin1String("busy"))
        said = QStringLiteral(" <span class=\"said\">A crawl is under way.</span>");
    return QStringLiteral("<form method=\"post\" action=\"/api/crawl?then=status\">"
                          "<button type=\"submit\">Crawl now</button>%1</form>\n")
        .arg(said);
}

QString problemList(const QStringList& problems) {
    if (problems.isEmpty())
        return QString();
    QString items;
    for (const QString& problem : problems)
        items += QStringLiteral("<li>%1</li>").arg(ResultPages::escapeHtml(problem));
    return QStringLiteral("<h2>Source lines not crawled</h2>\n<ul class=\"problems\">%1</ul>\n")
        .arg(items);
}

// Keeps the search shown: the service runs it again after every crawl.
QString saveSearchForm(const SearchPageView& view) {
    if (!view.searched)
        return {};
    const QByteArray action = "/api/saved?q=" + QueryText::encodeValue(view.words) +
                              "&kind=" + QueryText::encodeValue(view.kind) +
                              "&minbitrate=" + QByteArray::number(view.minBitrate) +
                              (view.hideTranscodes ? "&genuine=1" : "") + "&then=saved";
    return QStringLiteral("<form method=\"post\" action=\"%1\"><button type=\"submit\">Save "
                          "this search</button> <a href=\"/saved\">Saved searches</a></form>\n")
        .arg(escapeHtml(QString::fromLatin1(action)));
}

} // namespace

QByteArray pageHtml(const QString& title, const QString& body) {
    return page(title, body).toUtf8();
}

QByteArray statusHtml(const StatusView& view) {
    const QList<SourceStatus>& sources = view.sources;
    QString body = QStringLiteral("<h1>Crawled sources</h1>\n<p><a href=\"/\">Search</a></p>\n") +
                   crawlNowForm(view);
    if (sources.isEmpty())
        body += QStringLiteral("<p class=\"none\">No sources are crawled.</p>\n");
    else
        body +=
            QStringLiteral("<table><tr><th>Source</th><th>Kind</th><th>State</th>"
                           "<th>Folders</th><th>Files</th><th>With quality</th>"
                           "<th>ABR or VBR</th><th>Transcoded</th>"
                           "<th>Last crawl</th><th>Next crawl</th><th>Last errors</th></tr>\n") +
            statusRows(sources) + QStringLiteral("</table>\n");
    body += problemList(view.problems);
    return page(QStringLiteral("Pellmar search service: sources"), body).toUtf8();
}

QByteArray statusJson(const StatusView& view) {
    auto time = [](const QDateTime& t) {
        return t.isValid() ? QJsonValue(t.toUTC().toString(Qt::ISODate)) : QJsonValue();
    };
    QJsonArray list;
    for (const SourceStatus& s : view.sources) {
        list.append(QJsonObject{
            {QStringLiteral("url"), s.url},
            {QStringLiteral("kind"), s.kind},
            {QStringLiteral("state"), s.state},
            {QStringLiteral("folders"), s.folders},
            {QStringLiteral("files"), s.files},
            {QStringLiteral("filesWithQuality"), s.filesWithQuality},
            {QStringLiteral("filesVariable"), s.filesVariable},
            {QStringLiteral("filesTranscoded"), s.filesTranscoded},
            {QStringLiteral("lastCrawl"), time(s.lastCrawl)},
            {QStringLiteral("nextCrawl"), time(s.nextCrawl)},
            {QStringLiteral("lastErrors"), QJsonArray::fromStringList(s.lastErrors)},
        });
    }
    return QJsonDocument(
               QJsonObject{{QStringLiteral("sources"), list},
                           {QStringLiteral("problems"), QJsonArray::fromStringList(view.problems)},
                           {QStringLiteral("canCrawlNow"), view.canCrawlNow}})
        .toJson(QJsonDocument::Indented);
}

QByteArray searchJson(const SearchPageView& view,
                      const std::function<QByteArray(const FoundFile&)>& link) {
    QJsonArray files;
    for (const FoundFile& hit : view.hits)
        files.append(hitJson(hit, link(hit)));
    return QJsonDocument(
               QJsonObject{{QStringLiteral("files"), files}, {QStringLiteral("total"), view.total}})
        .toJson(QJsonDocument::Compact);
}

QByteArray songsJson(const SearchPageView& view,
                     const std::function<QByteArray(const FoundFile&)>& link) {
    QJsonArray songs;
    for (const Song& song : view.songs) {
        QJsonArray sources;
        for (const FoundFile& source : song.sources)
            sources.append(hitJson(source, link(source)));
        const double seconds = qRound64(song.durationSeconds * 1000) / 1000.0;
        songs.append(QJsonObject{
            {QStringLiteral("artist"), song.artist},
            {QStringLiteral("title"), song.title},
            {QStringLiteral("durationSeconds"), seconds > 0 ? QJsonValue(seconds) : QJsonValue()},
            {QStringLiteral("inLibrary"), song.inLibrary},
            {QStringLiteral("libraryBitrate"), song.inLibrary && song.libraryBitrate > 0
                                                   ? QJsonValue(song.libraryBitrate)
                                                   : QJsonValue()},
            {QStringLiteral("sources"), sources},
        });
    }
    return QJsonDocument(
               QJsonObject{{QStringLiteral("songs"), songs}, {QStringLiteral("total"), view.total}})
        .toJson(QJsonDocument::Compact);
}

QByteArray searchHtml(const SearchPageView& view,
                      const std::function<QByteArray(const FoundFile&)>& link) {
    const QString body = QStringLiteral("<h1>Pellmar search service</h1>\n<p>%1 MP3 files in "
                                        "the library, and the files of crawled servers.</p>\n")
                             .arg(view.libraryFiles) +
                         searchForm(view) + saveSearchForm(view) + results(view, link) +
                         QStringLiteral("<p><a href=\"/status\">Crawled sources and their "
                                        "state</a> &middot; <a href=\"/submissions\">Submitted "
                                        "sites</a> &middot; <a href=\"/version2.txt\">Version "
                                        "file</a> &middot; <a href=\"/Pellmar.dat\">Data "
                                        "file</a></p>\n");
    return page(QStringLiteral("Pellmar search service"), body, SongTable::sortScript()).toUtf8();
}

} // namespace BrowserPages

QByteArray BrowserPages::submissionsHtml(const QList<Submission>& shown, int total, int page,
                                         int pageSize) {
    QString rows;
    for (const Submission& s : shown)
        rows += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>\n")
                    .arg(s.received.toString(Qt::ISODate), escapeHtml(s.kind), escapeHtml(s.site),
                         escapeHtml(s.from));
    QString nav;
    if (page > 1)
        nav += QStringLiteral("<a href=\"/submissions?page=%1\">Newer</a> ").arg(page - 1);
    if (static_cast<qint64>(page) * pageSize < total)
        nav += QStringLiteral("<a href=\"/submissions?page=%1\">Older</a>").arg(page + 1);
    const QString html =
        QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                       "<title>Submitted sites</title></head><body>\n"
                       "<h1>Submitted sites</h1>\n<p>%1 submissions.</p>\n"
                       "<table border=\"1\"><tr><th>Received (UTC)</th><th>Kind</th>"
                       "<th>Site</th><th>From</th></tr>\n%2</table>\n<nav>%3</nav></body></html>\n")
            .arg(QString::number(total), rows, nav);
    return html.toUtf8();
}

// The pages' only style sheet and script are allowed by their hashes, so that nothing else
// inline is. The search page plays files from this service and from crawled HTTP servers.
QByteArray BrowserPages::securityPolicy() {
    auto hash = [](const char* text) {
        return "'sha256-" + QCryptographicHash::hash(text, QCryptographicHash::Sha256).toBase64() +
               "'";
    };
    static const QByteArray policy = "default-src 'none'; style-src " + hash(kStyle) +
                                     "; script-src " + hash(SongTable::sortScript()) +
                                     "; media-src 'self' http: https:; form-action 'self'; "
                                     "frame-ancestors 'none'; base-uri 'none'";
    return policy;
}
