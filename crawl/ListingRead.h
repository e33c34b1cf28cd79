#pragma once

#include "crawl/CrawlTypes.h"

#include <QHash>
#include <QList>
#include <QString>

// What a listing reader (HTTP page, FTP MLSD or LIST, SMB directory) made of one folder.
struct ListingRead {
    QList<RemoteEntry> entries; // safe names only, in listing order, no duplicates
    QString error;              // not empty: the folder could not be read (e.g. "more than
                                // 100000 entries"); entries then hold what was read so far
    int leftOut = 0;            // names dropped as unsafe (not UTF-8, control characters)
};

// Gathers a folder's entries for the readers: keeps the first row of each name (a later row
// of the same name only fills in a size or date the first lacked, as when an icon and the
// name link to the same file) and stops at the entry limit.
class ListingCollector {
public:
    static constexpr int kMaxEntries = 100000;

    // False once the limit is passed: the reader stops and returns result(). An entry
    // without a name stands for an unsafe name: it is counted, not kept.
    bool add(RemoteEntry entry);
    bool full() const { return !m_read.error.isEmpty(); }
    bool contains(const QString& name) const { return m_rows.contains(name); }
    ListingRead result() const { return m_read; }

private:
    ListingRead m_read;
    QHash<QString, qsizetype> m_rows; // name -> index in m_read.entries
};
