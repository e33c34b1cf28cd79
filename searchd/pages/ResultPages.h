#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One link on a result page: the file's URL (plain ASCII, escaped) and the name shown.
struct ResultLink {
    QByteArray url;
    QString name;
    qint64 size = 0;
};

// The charset of the engine pages and listings: Windows-1252 as the program has always read
// them, or UTF-8 when the request asked for it with charset=utf-8 (docs/search-service.md).
enum class PageCharset { Windows1252, Utf8 };

// The HTML result pages of the two search engines, in Windows-1252 (or UTF-8, as asked) with
// CR LF line ends.
// The program reads them line by line with plain substring searches, so what matters is
// which line holds what; names and search words are HTML-escaped so that they can never
// form a marker.
namespace ResultPages {

// The first engine: a table header line holding "<TR><TD B", one paging line with a
// "next" image link (nextLink is relative, "search.asp?since=&searchwords=..."), and all
// result links on the last line as 0><a href="url">name</a>. firstNumber numbers the rows.
QByteArray firstEngine(const QString& words, const QList<ResultLink>& links, int firstNumber,
                       const QByteArray& nextLink, PageCharset charset = PageCharset::Windows1252);

// The first engine's empty answer: the last line holds "No records found".
QByteArray firstEngineNoRecords(const QString& words,
                                PageCharset charset = PageCharset::Windows1252);

// The second engine: a line starting with the paging marker, with "previous" and "next"
// links as HREF=url> when there are such pages, then a line starting with the results
// marker holding every result as HREF=url>number<BR>name<.
QByteArray secondEngine(const QString& words, const QList<ResultLink>& links, int firstNumber,
                        const QByteArray& previousUrl, const QByteArray& nextUrl,
                        PageCharset charset = PageCharset::Windows1252);

// The second engine's empty answer: the last line holds the no-results marker.
QByteArray secondEngineNoResults(const QString& words,
                                 PageCharset charset = PageCharset::Windows1252);

// What a failing engine answers: the first line holds "Internal Server".
QByteArray internalServerError();

// &, <, > and " as HTML entities.
QString escapeHtml(const QString& text);

} // namespace ResultPages
