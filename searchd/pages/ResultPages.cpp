#include "searchd/pages/ResultPages.h"

#include "core/SecondEngineMarkers.h"
#include "platform/Cp1252.h"

namespace ResultPages {

namespace {

const QString kEnd = QStringLiteral("\r\n");

QByteArray toPage(const QStringList& lines, PageCharset charset = PageCharset::Windows1252) {
    const QString text = lines.join(kEnd) + kEnd;
    return charset == PageCharset::Utf8 ? text.toUtf8() : Cp1252::fromUnicode(text);
}

QString ascii(const QByteArray& bytes) {
    return QString::fromLatin1(bytes);
}

QString firstEngineRow(const ResultLink& link, int number) {
    return QStringLiteral("<TR><TD WIDTH=40>%1.</TD><TD WIDTH=400><a href=\"%2\">%3</a></TD>"
                          "<TD WIDTH=100 ALIGN=RIGHT>%4</TD></TR>")
        .arg(QString::number(number), ascii(link.url), escapeHtml(link.name),
             QString::number(link.size));
}

QString secondEngineHit(const ResultLink& link, int number) {
    return QStringLiteral("<P><A HREF=%1>%2.</A> %3 bytes<BR>%4</P>")
        .arg(ascii(link.url), QString::number(number), QString::number(link.size),
             escapeHtml(link.name));
}

QString secondEnginePaging(const QByteArray& previousUrl, const QByteArray& nextUrl) {
    QStringList links;
    if (!previousUrl.isEmpty())
        links.append(QStringLiteral("<A HREF=%1>previous</A>").arg(ascii(previousUrl)));
    if (!nextUrl.isEmpty())
        links.append(QStringLiteral("<A HREF=%1>next</A>").arg(ascii(nextUrl)));
    if (links.isEmpty())
        links.append(QStringLiteral("All results are on this page."));
    return ascii(SecondEngineMarkers::pagingMarker()) + links.join(QStringLiteral(" | ")) +
           QStringLiteral("</DIV>");
}

} // namespace

QString escapeHtml(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QByteArray firstEngine(const QString& words, const QList<ResultLink>& links, int firstNumber,
                       const QByteArray& nextLink, PageCharset charset) {
    QString rows;
    for (qsizetype i = 0; i < links.size(); ++i)
        rows += firstEngineRow(links[i], firstNumber + static_cast<int>(i));
    return toPage(
        {
            QStringLiteral("<HTML><HEAD><TITLE>MP3 search</TITLE></HEAD><BODY BGCOLOR=#FFFFFF>"),
            QStringLiteral("<TABLE WIDTH=100%>"),
            QStringLiteral(
                "<TR><TD BGCOLOR=#DDDDDD><B>MP3 files for: %1</B> (from %2 on)</TD></TR>")
                .arg(escapeHtml(words), QString::number(firstNumber)),
            QStringLiteral("</TABLE>"),
            QStringLiteral(
                "<a href=\"%1\"><IMG SRC=\"/mediabot/next.gif\" BORDER=0 ALT=\"next\"></a>")
                .arg(ascii(nextLink)),
            QStringLiteral("<TABLE WIDTH=100%>") + rows + QStringLiteral("</TABLE></BODY></HTML>"),
        },
        charset);
}

QByteArray firstEngineNoRecords(const QString& words, PageCharset charset) {
    return toPage(
        {
            QStringLiteral("<HTML><HEAD><TITLE>MP3 search</TITLE></HEAD><BODY BGCOLOR=#FFFFFF>"),
            QStringLiteral("<P>No records found for: %1</P></BODY></HTML>").arg(escapeHtml(words)),
        },
        charset);
}

QByteArray secondEngine(const QString& words, const QList<ResultLink>& links, int firstNumber,
                        const QByteArray& previousUrl, const QByteArray& nextUrl,
                        PageCharset charset) {
    QString hits;
    for (qsizetype i = 0; i < links.size(); ++i)
        hits += secondEngineHit(links[i], firstNumber + static_cast<int>(i));
    return toPage(
        {
            QStringLiteral("<HTML><HEAD><TITLE>AudioFind</TITLE></HEAD><BODY>"),
            QStringLiteral("<H3>AudioFind results for: %1</H3>").arg(escapeHtml(words)),
            secondEnginePaging(previousUrl, nextUrl),
            ascii(SecondEngineMarkers::resultsMarker()) + hits + QStringLiteral("</DIV>"),
            QStringLiteral("</BODY></HTML>"),
        },
        charset);
}

QByteArray secondEngineNoResults(const QString& words, PageCharset charset) {
    return toPage(
        {
            QStringLiteral("<HTML><HEAD><TITLE>AudioFind</TITLE></HEAD><BODY>"),
            ascii(SecondEngineMarkers::noResultsMarker()) +
                QStringLiteral(": %1</P></BODY></HTML>").arg(escapeHtml(words)),
        },
        charset);
}

QByteArray internalServerError() {
    return toPage({
        QStringLiteral("<HTML><HEAD><TITLE>500 Internal Server Error</TITLE></HEAD>"),
        QStringLiteral("<BODY><H1>Internal Server Error</H1>"),
        QStringLiteral("<P>The search engine is busy. Please try again.</P></BODY></HTML>"),
    });
}

} // namespace ResultPages
