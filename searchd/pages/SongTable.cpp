#include "searchd/pages/SongTable.h"

#include "searchd/index/IndexTypes.h"
#include "searchd/pages/ResultPages.h"
#include "searchd/pages/VisibleControls.h"

namespace SongTable {

namespace {

const char* const kSortScript =
    "document.querySelectorAll('table.songs').forEach(function(t){"
    "var hs=t.tHead.rows[0].cells;"
    "Array.prototype.forEach.call(hs,function(th,i){"
    "if(!th.dataset.sort)return;"
    "var b=document.createElement('button');b.type='button';b.textContent=th.textContent;"
    "th.textContent='';th.appendChild(b);"
    "b.addEventListener('click',function(){"
    "var up=th.getAttribute('aria-sort')!=='ascending',num=th.dataset.sort==='num';"
    "Array.prototype.forEach.call(hs,function(h){h.removeAttribute('aria-sort');});"
    "th.setAttribute('aria-sort',up?'ascending':'descending');"
    "var body=t.tBodies[0],rows=Array.prototype.slice.call(body.rows);"
    "function key(r){var c=r.cells[i];"
    "return num?parseFloat(c.dataset.v):c.textContent.toLowerCase();}"
    "rows.sort(function(a,b){var x=key(a),y=key(b),d=num?x-y:x.localeCompare(y);"
    "return up?d:-d;});"
    "rows.forEach(function(r){body.appendChild(r);});"
    "});});});";

// Every text from the index, with its controls made visible first.
QString escaped(const QString& text) {
    return ResultPages::escapeHtml(VisibleControls::shown(text));
}

QString linkText(const QByteArray& link) {
    return ResultPages::escapeHtml(QString::fromLatin1(link));
}

qint64 sizeOf(const FoundFile& file) {
    return file.fromLibrary ? file.file.size : file.crawled.size;
}

// "genuine", "transcoded, sounds like 128 kbit/s", "unknown".
QString verdictText(const AudioQuality& q) {
    QString text = QString::fromLatin1(verdictName(q.verdict));
    if (q.verdict == Verdict::Transcoded && q.sourceBitrate > 0)
        text += QStringLiteral(", sounds like %1 kbit/s").arg(q.sourceBitrate);
    return text;
}

// The sort key of a verdict column: genuine, unknown, transcoded.
int verdictOrder(Verdict verdict) {
    return verdict == Verdict::Genuine ? 0 : verdict == Verdict::Unknown ? 1 : 2;
}

QString modeText(const ShownQuality& q) {
    return QString::fromLatin1(rateModeName(q.quality.mode)) +
           (q.quality.estimated ? QStringLiteral(" (estimate)") : QString());
}

bool playable(const FoundFile& file) {
    const QString kind = file.kind();
    return kind == QLatin1String("http") || kind == QLatin1String("https") ||
           kind == QLatin1String("library");
}

QString player(const QByteArray& link, const QString& title) {
    return QStringLiteral("<audio controls preload=\"none\" src=\"%1\" aria-label=\"Play %2\">"
                          "</audio>")
        .arg(linkText(link), escaped(title));
}

QString whereFrom(const FoundFile& file) {
    if (file.fromLibrary)
        return QStringLiteral("your library");
    return file.kind().toUpper() + QLatin1Char(' ') +
           IndexedSource::shownUrl(file.crawled.sourceUrl);
}

QString sourceItem(const FoundFile& file, const QByteArray& link, const QString& title) {
    const ShownQuality q = file.shownQuality();
    QStringList facts{whereFrom(file), megabytes(sizeOf(file)) + QStringLiteral(" MB")};
    if (q.known)
        facts << QStringLiteral("%1 kbit/s %2").arg(q.bitrate).arg(modeText(q))
              << verdictText(q.quality);
    else
        facts << QStringLiteral("quality unknown");
    return QStringLiteral("<li><a href=\"%1\">%2</a> <span class=\"src\">%3</span>%4</li>")
        .arg(linkText(link), escaped(file.file.displayName()),
             escaped(facts.join(QStringLiteral(", "))),
             playable(file) ? QStringLiteral("<br>") + player(link, title) : QString());
}

QString cell(const char* label, const QString& html, const QString& sortValue = QString(),
             const QString& cls = QString()) {
    QString td = QStringLiteral("<td data-label=\"%1\"").arg(QLatin1String(label));
    if (!cls.isEmpty())
        td += QStringLiteral(" class=\"%1\"").arg(cls);
    if (!sortValue.isNull())
        td += QStringLiteral(" data-v=\"%1\"").arg(sortValue);
    return td + QLatin1Char('>') + html + QStringLiteral("</td>");
}

QString songRow(const Song& song, const std::function<QByteArray(const FoundFile&)>& link) {
    const FoundFile& best = song.sources.first();
    const ShownQuality q = best.shownQuality();
    QString title =
        QStringLiteral("<a href=\"%1\">%2</a>").arg(linkText(link(best)), escaped(song.title));
    if (song.inLibrary)
        title += QStringLiteral("<br><span class=\"have\">in your library%1</span>")
                     .arg(song.libraryBitrate > 0
                              ? QStringLiteral(", %1 kbit/s").arg(song.libraryBitrate)
                              : QString());
    QString play = QStringLiteral("-");
    QString items;
    for (const FoundFile& source : song.sources) {
        const QByteArray url = link(source);
        if (play == QLatin1String("-") && playable(source))
            play = player(url, song.title);
        items += sourceItem(source, url, song.title);
    }
    const int count = static_cast<int>(song.sources.size());
    const QString summary =
        count == 1 ? QStringLiteral("1 source") : QStringLiteral("%1 sources").arg(count);
    const QString dash = QStringLiteral("-");
    const QString unknown = QStringLiteral("-1");
    return QStringLiteral("<tr>") + cell("Artist", escaped(song.artist)) + cell("Title", title) +
           cell("Duration", durationText(song.durationSeconds),
                QString::number(qRound64(song.durationSeconds)), QStringLiteral("n")) +
           cell("Size (MB)", megabytes(sizeOf(best)), QString::number(sizeOf(best)),
                QStringLiteral("n")) +
           cell("Bitrate", q.known ? QStringLiteral("%1 kbit/s").arg(q.bitrate) : dash,
                q.known ? QString::number(q.bitrate) : unknown, QStringLiteral("n")) +
           cell("Mode", q.known ? escaped(modeText(q)) : dash) +
           cell("Verdict", q.known ? escaped(verdictText(q.quality)) : dash,
                QString::number(verdictOrder(q.known ? q.quality.verdict : Verdict::Unknown)),
                QString::fromLatin1(verdictName(q.quality.verdict))) +
           cell("Play", play) +
           cell("Sources",
                QStringLiteral("<details><summary>%1</summary><ol>%2</ol></details>")
                    .arg(summary, items),
                QString::number(count)) +
           QStringLiteral("</tr>\n");
}

} // namespace

QString durationText(double seconds) {
    if (seconds <= 0)
        return QStringLiteral("-");
    const qint64 whole = qRound64(seconds);
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

QString megabytes(qint64 bytes) {
    return bytes < 0 ? QStringLiteral("-") : QString::number(bytes / 1e6, 'f', 1);
}

QString html(const QList<Song>& songs, const std::function<QByteArray(const FoundFile&)>& link) {
    QString rows;
    for (const Song& song : songs)
        rows += songRow(song, link);
    return QStringLiteral("<div class=\"wrap\"><table class=\"songs\"><thead><tr>"
                          "<th scope=\"col\" data-sort=\"text\">Artist</th>"
                          "<th scope=\"col\" data-sort=\"text\">Title</th>"
                          "<th scope=\"col\" data-sort=\"num\">Duration</th>"
                          "<th scope=\"col\" data-sort=\"num\">Size (MB)</th>"
                          "<th scope=\"col\" data-sort=\"num\">Bitrate</th>"
                          "<th scope=\"col\" data-sort=\"text\">Mode</th>"
                          "<th scope=\"col\" data-sort=\"num\">Verdict</th>"
                          "<th scope=\"col\">Play</th>"
                          "<th scope=\"col\" data-sort=\"num\">Sources</th>"
                          "</tr></thead>\n<tbody>\n") +
           rows + QStringLiteral("</tbody></table></div>\n");
}

const char* sortScript() {
    return kSortScript;
}

} // namespace SongTable
