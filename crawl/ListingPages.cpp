#include "crawl/ListingPages.h"

#include "crawl/SafeNames.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <optional>

namespace {

constexpr qsizetype kMaxRowText = 1024; // the text after a link that can hold its size and date

const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                               "jul", "aug", "sep", "oct", "nov", "dec"};

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool startsWithNoCase(const QByteArray& body, qsizetype at, const char* word) {
    for (qsizetype i = 0; word[i]; ++i) {
        if (at + i >= body.size() || lower(body.at(at + i)) != word[i])
            return false;
    }
    return true;
}

qsizetype indexOfNoCase(const QByteArray& body, qsizetype from, const char* word) {
    for (qsizetype at = body.indexOf('<', from); at >= 0; at = body.indexOf('<', at + 1)) {
        if (startsWithNoCase(body, at, word))
            return at;
    }
    return -1;
}

void appendUtf8(QByteArray& out, char32_t code) {
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = 0xFFFD;
    out += QString::fromUcs4(&code, 1).toUtf8();
}

// The text of an attribute value or of a row, its character references decoded.
QByteArray decodeEntities(QByteArrayView text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        // A reference is short: look no further than its longest form ("&#x10FFFF;").
        const qsizetype end =
            c == '&' ? text.sliced(i, qMin<qsizetype>(11, text.size() - i)).indexOf(';') : -1;
        if (end < 2 || end > 10) {
            out += c;
            continue;
        }
        const QByteArrayView name = text.sliced(i + 1, end - 1);
        bool ok = true;
        if (name.startsWith('#')) {
            const bool hex = name.size() > 1 && lower(name.at(1)) == 'x';
            const uint code = name.sliced(hex ? 2 : 1).toUInt(&ok, hex ? 16 : 10);
            if (ok)
                appendUtf8(out, char32_t(code));
        } else if (name == "amp") {
            out += '&';
        } else if (name == "lt") {
            out += '<';
        } else if (name == "gt") {
            out += '>';
        } else if (name == "quot") {
            out += '"';
        } else if (name == "apos") {
            out += '\'';
        } else if (name == "nbsp") {
            out += ' ';
        } else {
            ok = false;
        }
        if (ok)
            i += end;
        else
            out += c;
    }
    return out;
}

// One <a ...> tag: its href (entities decoded) and where the tag ends.
struct Anchor {
    std::optional<QByteArray> href;
    qsizetype end = -1; // just past '>'; -1 when the tag never ends
};

Anchor readAnchor(const QByteArray& body, qsizetype at) {
    Anchor anchor;
    qsizetype i = at + 2;
    while (i < body.size()) {
        while (i < body.size() && (isSpace(body.at(i)) || body.at(i) == '/'))
            ++i;
        if (i >= body.size())
            break;
        if (body.at(i) == '>') {
            anchor.end = i + 1;
            return anchor;
        }
        const qsizetype nameStart = i;
        while (i < body.size() && !isSpace(body.at(i)) && body.at(i) != '=' && body.at(i) != '>')
            ++i;
        const QByteArray name = body.mid(nameStart, i - nameStart).toLower();
        while (i < body.size() && isSpace(body.at(i)))
            ++i;
        if (i >= body.size() || body.at(i) != '=')
            continue;
        ++i;
        while (i < body.size() && isSpace(body.at(i)))
            ++i;
        if (i >= body.size())
            break;
        qsizetype valueStart = i;
        qsizetype valueEnd = 0;
        if (body.at(i) == '"' || body.at(i) == '\'') {
            valueStart = i + 1;
            valueEnd = body.indexOf(body.at(i), valueStart);
            if (valueEnd < 0)
                return anchor; // an open quote runs to the end of the page
            i = valueEnd + 1;
        } else {
            while (i < body.size() && !isSpace(body.at(i)) && body.at(i) != '>')
                ++i;
            valueEnd = i;
        }
        if (name == "href" && !anchor.href)
            anchor.href =
                decodeEntities(QByteArrayView(body).sliced(valueStart, valueEnd - valueStart));
    }
    return anchor;
}

// Where the text after a link ends: at a line break, the row's end or the next link, and
// never more than kMaxRowText bytes on.
qsizetype rowEnd(const QByteArray& body, qsizetype from) {
    const qsizetype limit = qMin(body.size(), from + kMaxRowText);
    for (qsizetype i = from; i < limit; ++i) {
        const char c = body.at(i);
        if (c == '\n')
            return i;
        if (c == '<' &&
            (startsWithNoCase(body, i, "</tr") ||
             (startsWithNoCase(body, i, "<a") && i + 2 < body.size() && isSpace(body.at(i + 2)))))
            return i;
    }
    return limit;
}

// The row's text without tags, with entities decoded, split at blanks.
QList<QByteArray> rowWords(QByteArrayView row) {
    QByteArray text;
    bool inTag = false;
    for (const char c : row) {
        if (c == '<' || c == '>') {
            inTag = c == '<';
            text += ' '; // cells run together without it
        } else if (!inTag) {
            text += c;
        }
    }
    return decodeEntities(text).simplified().split(' ');
}

int monthNumber(const QByteArray& name) {
    for (int i = 0; i < 12; ++i) {
        if (name.toLower() == kMonths[i])
            return i + 1;
    }
    return 0;
}

int number(const QByteArray& digits) {
    bool ok = false;
    const int value = digits.toInt(&ok);
    return ok && !digits.startsWith('+') && !digits.startsWith('-') ? value : -1;
}

// "07-Dec-2026" (nginx, Apache 2.2), "2026-12-07" (Apache 2.4), "2026-Dec-07" (lighttpd).
QDate listingDate(const QByteArray& word) {
    const QList<QByteArray> parts = word.split('-');
    if (parts.size() != 3)
        return {};
    if (parts[0].size() == 4) {
        const int month = parts[1].size() == 3 ? monthNumber(parts[1]) : number(parts[1]);
        return QDate(number(parts[0]), month, number(parts[2]));
    }
    return QDate(number(parts[2]), monthNumber(parts[1]), number(parts[0]));
}

QTime listingTime(const QByteArray& word) {
    const QList<QByteArray> parts = word.split(':');
    if (parts.size() < 2 || parts.size() > 3)
        return {};
    return QTime(number(parts[0]), number(parts[1]), parts.size() == 3 ? number(parts[2]) : 0);
}

// An exact byte count, or -1 for "-" and rounded sizes ("1.2M", "0.1K", "4k"); nullopt
// when the word is no size.
std::optional<qint64> listingSize(const QByteArray& word) {
    if (word == "-")
        return -1;
    bool exact = false;
    const qint64 bytes = word.toLongLong(&exact);
    if (exact && bytes >= 0 && word.front() != '+')
        return bytes;
    qsizetype i = 0;
    while (i < word.size() && ((word.at(i) >= '0' && word.at(i) <= '9') || word.at(i) == '.'))
        ++i;
    const QByteArray unit = word.mid(i).toUpper();
    static const QList<QByteArray> kUnits = {"K",  "M",  "G",   "T",   "P",   "KB",  "MB",
                                             "GB", "TB", "KIB", "MIB", "GIB", "TIB", "B"};
    if (i > 0 && kUnits.contains(unit))
        return -1;
    return std::nullopt;
}

// Fills in the date and size shown after a link: a date and a time, then the size.
void readRow(const QList<QByteArray>& words, RemoteEntry& entry) {
    for (qsizetype i = 0; i + 1 < words.size(); ++i) {
        const QDate date = listingDate(words[i]);
        const QTime time = date.isValid() ? listingTime(words[i + 1]) : QTime();
        if (!time.isValid())
            continue;
        entry.modified = QDateTime(date, time, Qt::UTC);
        if (i + 2 < words.size()) {
            if (const std::optional<qint64> size = listingSize(words[i + 2]))
                entry.size = entry.folder ? -1 : *size;
        }
        return;
    }
}

// nginx's "Mon, 07 Dec 2026 21:29:26 GMT".
QDateTime httpDate(const QString& text) {
    QDateTime date = QDateTime::fromString(text, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
    date.setTimeSpec(Qt::UTC);
    return date;
}

class PageReader {
public:
    explicit PageReader(const QUrl& pageUrl)
        : m_page(pageUrl.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment)) {
        const QString path = m_page.path(QUrl::FullyEncoded);
        m_folderPath = path.left(path.lastIndexOf(u'/') + 1);
        if (m_folderPath.isEmpty())
            m_folderPath = QStringLiteral("/");
        m_port = m_page.port(defaultPort(m_page.scheme()));
    }

    // The entry an href leads to, when it is one level below the page's folder.
    std::optional<RemoteEntry> entry(const QByteArray& href) const {
        if (href.isEmpty() || href.startsWith('?') || href.startsWith('#'))
            return std::nullopt;
        if (isPlainSegment(href))
            return segmentEntry(href);
        QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        const QString text = decoder.decode(href);
        if (decoder.hasError())
            return std::nullopt;
        const QUrl url = m_page.resolved(QUrl(text.trimmed()));
        if (!url.isValid() || url.hasQuery() || url.hasFragment() ||
            url.scheme() != m_page.scheme() || url.host() != m_page.host() ||
            url.port(defaultPort(url.scheme())) != m_port)
            return std::nullopt;
        const QString path = url.path(QUrl::FullyEncoded);
        if (!path.startsWith(m_folderPath))
            return std::nullopt;
        QStringView rest = QStringView(path).sliced(m_folderPath.size());
        RemoteEntry entry;
        entry.folder = rest.endsWith(u'/');
        if (entry.folder)
            rest.chop(1);
        if (rest.contains(u'/'))
            return std::nullopt;
        const QByteArray bytes = QByteArray::fromPercentEncoding(rest.toLatin1());
        if (bytes.isEmpty() || SafeNames::isDots(bytes))
            return std::nullopt;
        entry.name = SafeNames::fromUtf8(bytes).value_or(QString()); // empty: left out
        entry.url = url.adjusted(QUrl::RemoveUserInfo);
        return entry;
    }

    // A relative link of one segment ("name" or "name/"), the shape of nearly every listing
    // link: it resolves to the page's folder plus the segment, so no general resolution is
    // needed (a hostile page of millions of links costs a pass, not a URL parse each).
    static bool isPlainSegment(QByteArrayView href) {
        if (href.startsWith('/') || isSpace(href.front()) || isSpace(href.back()))
            return false;
        for (qsizetype i = 0; i < href.size(); ++i) {
            const char c = href.at(i);
            if (c == ':' || c == '?' || c == '#' || c == '\\' || (c == '/' && i + 1 < href.size()))
                return false;
        }
        return true;
    }

    std::optional<RemoteEntry> segmentEntry(const QByteArray& href) const {
        RemoteEntry entry;
        entry.folder = href.endsWith('/');
        const QByteArray segment = entry.folder ? href.chopped(1) : href;
        const QByteArray bytes = QByteArray::fromPercentEncoding(segment);
        if (bytes.isEmpty() || SafeNames::isDots(bytes))
            return std::nullopt;
        // Empty for an unsafe name (counted as left out). The URL waits for segmentUrl: a
        // repeated link needs none.
        entry.name = SafeNames::fromUtf8(bytes).value_or(QString());
        return entry;
    }

    QUrl segmentUrl(const QByteArray& href) const {
        QUrl url = m_page.adjusted(QUrl::RemoveUserInfo);
        url.setPath(m_folderPath + QString::fromUtf8(href), QUrl::TolerantMode);
        return url;
    }

    // The entry of a name given as text (JSON listings).
    std::optional<RemoteEntry> named(const QString& name, bool folder) const {
        if (!SafeNames::isSafe(name))
            return std::nullopt;
        RemoteEntry entry;
        entry.name = name;
        entry.folder = folder;
        entry.url = segmentUrl(QUrl::toPercentEncoding(name) + (folder ? "/" : ""));
        return entry;
    }

private:
    static int defaultPort(const QString& scheme) {
        return scheme == u"https" ? 443 : scheme == u"http" ? 80 : -1;
    }

    QUrl m_page;
    QString m_folderPath; // percent-encoded, ends with '/'
    int m_port = -1;
};

ListingRead readJson(const QByteArray& body, const PageReader& page) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return {{}, QStringLiteral("not a JSON folder listing")};
    ListingCollector collector;
    for (const QJsonValue value : document.array()) {
        const QJsonObject row = value.toObject();
        const QString type = row.value(QLatin1String("type")).toString();
        if (type != u"file" && type != u"directory")
            continue;
        std::optional<RemoteEntry> entry =
            page.named(row.value(QLatin1String("name")).toString(), type == u"directory");
        if (!entry)
            continue;
        const QJsonValue size = row.value(QLatin1String("size"));
        if (!entry->folder && size.isDouble() && size.toDouble() >= 0 && size.toDouble() < 9e15)
            entry->size = qint64(size.toDouble());
        entry->modified = httpDate(row.value(QLatin1String("mtime")).toString());
        if (!collector.add(*entry))
            break;
    }
    return collector.result();
}

ListingRead readHtml(const QByteArray& body, const PageReader& page) {
    ListingCollector collector;
    qsizetype at = body.indexOf('<');
    while (at >= 0 && !collector.full()) {
        const char next = at + 1 < body.size() ? lower(body.at(at + 1)) : 0;
        if (next != '!' && next != 's' && next != 'a') {
            at = body.indexOf('<', at + 1);
            continue;
        }
        if (QByteArrayView(body).sliced(at).startsWith("<!--")) {
            const qsizetype end = body.indexOf("-->", at + 4);
            at = end < 0 ? -1 : body.indexOf('<', end + 3);
            continue;
        }
        // Scripts and styles hold no links, but may hold "<a " in their text.
        if (startsWithNoCase(body, at, "<script") || startsWithNoCase(body, at, "<style")) {
            const bool script = lower(body.at(at + 2)) == 'c';
            const qsizetype close = indexOfNoCase(body, at + 1, script ? "</script" : "</style");
            at = close;
            continue;
        }
        if (startsWithNoCase(body, at, "<a") && at + 2 < body.size() && isSpace(body.at(at + 2))) {
            const Anchor anchor = readAnchor(body, at);
            if (anchor.end < 0)
                break;
            if (anchor.href) {
                if (std::optional<RemoteEntry> entry = page.entry(*anchor.href)) {
                    const qsizetype end = rowEnd(body, anchor.end);
                    readRow(rowWords(QByteArrayView(body).sliced(anchor.end, end - anchor.end)),
                            *entry);
                    if (entry->url.isEmpty() && !entry->name.isEmpty() &&
                        !collector.contains(entry->name))
                        entry->url = page.segmentUrl(*anchor.href);
                    collector.add(*entry);
                }
            }
            at = body.indexOf('<', anchor.end);
            continue;
        }
        at = body.indexOf('<', at + 1);
    }
    return collector.result();
}

} // namespace

namespace ListingPages {

ListingRead read(const QByteArray& body, const QByteArray& contentType, const QUrl& pageUrl) {
    const PageReader page(pageUrl);
    const QByteArray type = contentType.split(';').first().trimmed().toLower();
    if (type == "application/json")
        return readJson(body, page);
    return readHtml(body, page);
}

} // namespace ListingPages
