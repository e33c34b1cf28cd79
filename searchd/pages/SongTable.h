#pragma once

#include "searchd/pages/SongGroups.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

// The search page's table of songs: one row a song with its best source's figures, and
// every source behind a <details> element, so that it works without script. A small script
// makes the columns sortable where script runs; every text is escaped.
namespace SongTable {

// The table's HTML; link gives each source's URL (escaped ASCII).
QString html(const QList<Song>& songs, const std::function<QByteArray(const FoundFile&)>& link);

// The script that sorts the table by a column header: inline at the page's end, allowed by
// its hash alone.
const char* sortScript();

// "3:07" for 187 seconds; "-" when unknown.
QString durationText(double seconds);
// "4.8" (decimal megabytes, one decimal); "-" when unknown.
QString megabytes(qint64 bytes);

} // namespace SongTable
