#include "searchd/pages/SavedSearchPages.h"

#include "searchd/index/SavedSearchStore.h"
#include "searchd/pages/BrowserPages.h"
#include "searchd/pages/ResultPages.h"
#include "searchd/pages/VisibleControls.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

QString escaped(const QString& text) {
    return ResultPages::escapeHtml(VisibleControls::shown(text));
}

QJsonValue timeJson(const QDateTime& time) {
    return time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODate)) : QJsonValue();
}

QString timeText(const QDateTime& time) {
    return time.isValid() ? time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"))
                          : QStringLiteral("not yet");
}

QString kindLabel(const QString& kind) {
    return kind == QLatin1String("library") ? QStringLiteral("Library") : kind.toUpper();
}

// "HTTP files of at least 192 kbit/s, no transcodes"
QString filterText(const SavedSearch& search) {
    QString text = search.kind == QLatin1String("all")
                       ? QStringLiteral("All files")
                       : kindLabel(search.kind) + QStringLiteral(" files");
    if (search.minBitrate > 0)
        text += QStringLiteral(" of at least %1 kbit/s").arg(search.minBitrate);
    if (search.genuineOnly)
        text += QStringLiteral(", no transcodes");
    return text;
}

QString button(qint64 id, const char* action, const char* label) {
    return QStringLiteral("<form method=\"post\" action=\"/api/saved/%1/%2?then=saved\">"
                          "<button type=\"submit\">%3</button></form>")
        .arg(QString::number(id), QLatin1String(action), QLatin1String(label));
}

QString matchRows(const QList<SavedMatch>& matches) {
    QString rows;
    for (const SavedMatch& match : matches) {
        const QString bitrate = match.bitrate > 0 ? QStringLiteral("%1 kbit/s").arg(match.bitrate)
                                                  : QStringLiteral("-");
        rows += QStringLiteral("<tr><td>%1</td><td><a href=\"%2\">%3</a></td><td class=\"n\">%4"
                               "</td><td class=\"n\">%5</td><td>%6</td><td class=\"%7\">%7</td>"
                               "<td>%8</td></tr>\n")
                    .arg(escaped(kindLabel(match.kind)), escaped(match.url), escaped(match.name),
                         QString::number(match.size), bitrate,
                         escaped(match.mode.isEmpty() ? QStringLiteral("-") : match.mode),
                         escaped(match.verdict), timeText(match.foundAt));
    }
    return rows;
}

QString searchSection(const ListedSearch& listed) {
    const SavedSearch& search = listed.search;
    QString html = QStringLiteral("<h2>&ldquo;%1&rdquo;</h2>\n<p>%2. Saved %3, last run %4. %5 "
                                  "%6</p>\n")
                       .arg(escaped(search.words), filterText(search), timeText(search.savedAt),
                            timeText(search.lastRun), button(search.id, "seen", "Seen"),
                            button(search.id, "delete", "Delete"));
    if (listed.newMatches.isEmpty())
        return html + QStringLiteral("<p class=\"none\">No new files.</p>\n");
    return html +
           QStringLiteral("<table><tr><th>Kind</th><th>Name</th><th>Size (bytes)</th><th>Bitrate"
                          "</th><th>Rate</th><th>Verdict</th><th>Found</th></tr>\n") +
           matchRows(listed.newMatches) + QStringLiteral("</table>\n");
}

QString saidText(const QString& said) {
    if (said == QLatin1String("saved"))
        return QStringLiteral("<p>The search is saved. Files that appear from now on are "
                              "listed here.</p>\n");
    if (said == QLatin1String("duplicate"))
        return QStringLiteral("<p>This search is saved already.</p>\n");
    if (said == QLatin1String("full"))
        return QStringLiteral("<p>At most %1 searches are saved: delete one first.</p>\n")
            .arg(SavedSearchStore::kMaxSearches);
    return {};
}

} // namespace

namespace SavedSearchPages {

QJsonObject searchJson(const ListedSearch& listed) {
    const SavedSearch& search = listed.search;
    QJsonArray matches;
    for (const SavedMatch& match : listed.newMatches)
        matches.append(QJsonObject{
            {QStringLiteral("name"), match.name},
            {QStringLiteral("url"), match.url},
            {QStringLiteral("kind"), match.kind},
            {QStringLiteral("size"), match.size},
            {QStringLiteral("bitrate"),
             match.bitrate > 0 ? QJsonValue(match.bitrate) : QJsonValue()},
            {QStringLiteral("mode"), match.mode.isEmpty() ? QJsonValue() : QJsonValue(match.mode)},
            {QStringLiteral("verdict"), match.verdict},
            {QStringLiteral("foundAt"), timeJson(match.foundAt)},
        });
    return QJsonObject{
        {QStringLiteral("id"), search.id},
        {QStringLiteral("words"), search.words},
        {QStringLiteral("kind"), search.kind},
        {QStringLiteral("minBitrate"), search.minBitrate},
        {QStringLiteral("genuineOnly"), search.genuineOnly},
        {QStringLiteral("savedAt"), timeJson(search.savedAt)},
        {QStringLiteral("lastRun"), timeJson(search.lastRun)},
        {QStringLiteral("newMatches"), matches},
    };
}

QByteArray listJson(const QList<ListedSearch>& list) {
    QJsonArray searches;
    for (const ListedSearch& listed : list)
        searches.append(searchJson(listed));
    return QJsonDocument(QJsonObject{{QStringLiteral("searches"), searches}})
        .toJson(QJsonDocument::Compact);
}

QByteArray html(const QList<ListedSearch>& list, const QString& said) {
    QString body = QStringLiteral("<h1>Saved searches</h1>\n<p><a href=\"/\">Search</a> "
                                  "&middot; <a href=\"/status\">Crawled sources</a></p>\n") +
                   saidText(said);
    if (list.isEmpty())
        body += QStringLiteral("<p class=\"none\">No saved searches. Search on the search page "
                               "and save the search there: it runs again after every crawl, and "
                               "the files it finds then are listed here.</p>\n");
    for (const ListedSearch& listed : list)
        body += searchSection(listed);
    return BrowserPages::pageHtml(QStringLiteral("Pellmar search service: saved searches"), body);
}

} // namespace SavedSearchPages
