#pragma once

#include "core/SecondEngineMarkers.h"
#include "core/TextHelpers.h"

#include <QByteArray>
#include <QList>
#include <algorithm>

// Readers that take the service's answers apart exactly as the program's scrapers do:
// plain substring searches on the lines of the body. The service's tests use them to check
// that every answer reads the way the program will read it.
struct FoundLink {
    QByteArray url;
    QByteArray text; // the raw link text, before the program cleans it
};

namespace ScraperReaders {

// The text after the first occurrence of marker; the text itself when marker is missing.
inline QByteArray cutAfter(const QByteArray& text, const QByteArray& marker) {
    const qsizetype at = text.indexOf(marker);
    return at < 0 ? text : text.mid(at + marker.size());
}

// The text before the first occurrence of marker; empty when marker is missing.
inline QByteArray upTo(const QByteArray& text, const QByteArray& marker) {
    const qsizetype at = text.indexOf(marker);
    return at < 0 ? QByteArray() : text.left(at);
}

struct FirstEnginePage {
    QList<QByteArray> pagingLinks; // relative, as found
    QList<FoundLink> links;
    bool done = false; // the engine would be marked done
};

inline FirstEnginePage readFirstEngine(const QByteArray& body) {
    const QList<QByteArray> lines = SplitLines(body);
    FirstEnginePage page;
    for (const QByteArray& line : lines) {
        if (line.contains("<a href=\"search.asp?since=&searchwords=")) {
            const QByteArray link = line.mid(line.indexOf("search.asp?since=&searchwords="));
            page.pagingLinks.append(upTo(link, "\"><IMG SRC=\"/mediabot/"));
        }
    }
    const bool table = std::any_of(lines.begin(), lines.end(),
                                   [](const QByteArray& l) { return l.contains("<TR><TD B"); });
    if (!table || lines.last().contains("No records found") ||
        lines.last().contains("Server Error")) {
        page.done = true;
        return page;
    }
    const QByteArray start = "0><a href=\"";
    QByteArray text = lines.last();
    while (text.contains(start)) {
        text = cutAfter(text, start);
        const QByteArray url = upTo(text, "\"");
        if (!url.contains("http://")) {
            text = cutAfter(text, start);
            continue;
        }
        text = cutAfter(text, ">");
        page.links.append({url, upTo(text, "<")});
    }
    return page;
}

struct SecondEnginePage {
    bool retry = false; // "Internal Server": the program asks again
    bool done = false;
    QByteArray nextUrl;
    QList<FoundLink> links;
};

inline QByteArray secondEngineNextUrl(const QByteArray& line) {
    if (line.contains("previous")) {
        const QByteArray rest = cutAfter(line.mid(line.indexOf("previous")), "HREF=");
        return rest.contains("next") ? upTo(rest, ">") : QByteArray();
    }
    if (line.contains("next"))
        return upTo(cutAfter(line, "HREF="), ">");
    return {};
}

inline SecondEnginePage readSecondEngine(const QByteArray& body) {
    const QList<QByteArray> lines = SplitLines(body);
    SecondEnginePage page;
    if (!lines.isEmpty() && lines.first().contains("Internal Server")) {
        page.retry = true;
        return page;
    }
    if (lines.isEmpty() || lines.last().contains(SecondEngineMarkers::noResultsMarker())) {
        page.done = true;
        return page;
    }
    qsizetype paging = 0;
    while (paging < lines.size() && !lines[paging].contains(SecondEngineMarkers::pagingMarker()))
        ++paging;
    if (paging == lines.size()) {
        page.done = true;
        return page;
    }
    page.nextUrl = secondEngineNextUrl(lines[paging]);
    qsizetype results = paging;
    while (results < lines.size() && !lines[results].contains(SecondEngineMarkers::resultsMarker()))
        ++results;
    if (results == lines.size()) {
        page.done = true;
        return page;
    }
    QByteArray text = lines[results];
    while (text.contains("HREF=")) {
        text = cutAfter(text, "HREF=");
        const QByteArray url = upTo(text, ">");
        text = cutAfter(text, "<BR>");
        page.links.append({url, upTo(text, "<")});
    }
    page.done = page.nextUrl.isEmpty();
    return page;
}

// The field at index of a TAB-separated line; empty when the line has fewer.
inline QByteArray field(const QByteArray& line, int index) {
    const QList<QByteArray> parts = line.split('\t');
    return index < parts.size() ? parts[index] : QByteArray();
}

// The text after the count-th TAB; empty when the line has fewer.
inline QByteArray afterTabs(const QByteArray& line, int count) {
    qsizetype at = -1;
    for (int i = 0; i < count; ++i) {
        at = line.indexOf('\t', at + 1);
        if (at < 0)
            return {};
    }
    return line.mid(at + 1);
}

// A record of the FTP and SMB listings: host, folder, file name, the rest.
struct ListingRecord {
    QByteArray host, folder, name, rest;
    bool operator==(const ListingRecord&) const = default;
};

// isHostLine: FTP lines holding ':'; SMB lines starting with a digit.
template <typename HostTest>
QList<ListingRecord> readListing(const QByteArray& body, HostTest isHostLine) {
    QList<ListingRecord> records;
    QByteArray host, folder;
    for (const QByteArray& line : SplitLines(body)) {
        if (isHostLine(line)) {
            host = field(line, 0);
            folder = field(line, 1);
            records.append({host, folder, field(line, 2), afterTabs(line, 3)});
            continue;
        }
        QByteArray rest = line;
        while (rest.startsWith('\t'))
            rest.remove(0, 1);
        if (rest.startsWith('\\')) {
            folder = field(rest, 0);
            rest = afterTabs(rest, 1);
        }
        records.append({host, folder, field(rest, 0), afterTabs(rest, 1)});
    }
    return records;
}

inline QList<ListingRecord> readFtpListing(const QByteArray& body) {
    return readListing(body, [](const QByteArray& line) { return line.contains(':'); });
}

inline QList<ListingRecord> readSmbListing(const QByteArray& body) {
    return readListing(body, [](const QByteArray& line) {
        return !line.isEmpty() && line[0] >= '0' && line[0] <= '9';
    });
}

} // namespace ScraperReaders
