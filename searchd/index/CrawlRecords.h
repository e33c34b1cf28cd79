#pragma once

#include "crawl/CrawlTypes.h"

#include <QList>
#include <QString>
#include <QStringList>

// What every engine of the index keeps of a walk alike, whatever its tables.
namespace CrawlRecords {

// The files a walk handed over for folder that the index keeps under it: those lying in it
// (the next walk of the folder replaces them), each path once, as first seen.
QList<CrawledFile> filesOfFolder(const QString& folder, const QList<CrawledFile>& files);

// ",http,ftp," for one bound value that a kind is looked up in (",kind,").
QString schemeList(const QStringList& schemes);

// "\nid\nid\n" for one bound value that a source id is looked up in ("\nid\n"): no source
// id holds a line break.
QString sourceList(const QStringList& ids);

// The source's last error after a walk that could not read some folders or files; empty
// for none.
QString finishedWith(const WalkErrors& errors);

// The reason a walk was abandoned, as the status page keeps it.
QString abandonedFor(const QString& reason);

} // namespace CrawlRecords
