#pragma once

#include "crawl/CrawlTypes.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// Where the crawler's sources come from: --crawl URLs, a sources file (one URL a line, '#'
// comments, blank lines; an smb line may name a credentials file after the URL) and the
// sites people submitted. A line that cannot be used gives a problem text, never a source.
namespace CrawlSources {

struct Loaded {
    QList<CrawlSource> sources;
    QStringList problems; // one readable line each, without any credential
    QStringList warnings; // the sources are used, but something is unsafe
};

// One source line: "URL" or, for smb, "URL credentials=/path/file".
// Returns false and sets problem when the line cannot be used.
bool parseLine(const QString& line, CrawlSource* source, QString* problem);

// Every usable line of a sources file; a missing or unreadable file is one problem.
Loaded readFile(const QString& path);

// A submitted site ("ftp", "http" or "smb" with the site as sent) as a source URL line;
// empty when the kind is not crawled ("mysmb" points at the sender's own machine).
QString submittedSite(const QString& kind, const QString& site);

// The URL as it may be printed: no user name or password.
QString shown(const QUrl& url);

// The stable id of a source: its URL without credentials, scheme and host lower case,
// the folder path ending in '/'.
QString idFor(const QUrl& url);

// Drops duplicates (same id, whatever the login), keeping the first; each dropped one is
// named in problems.
QList<CrawlSource> unique(const QList<CrawlSource>& sources, QStringList* problems);

} // namespace CrawlSources
