#pragma once

#include "searchd/index/SavedSearchStore.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

// A saved search with the files it found that the user has not seen yet.
struct ListedSearch {
    SavedSearch search;
    QList<SavedMatch> newMatches;
};

// How the saved searches are shown: as JSON for programs and as a page for people (plain
// HTML, no script, every text escaped: the names come from other machines).
namespace SavedSearchPages {

// {"id", "words", "kind", "minBitrate", "genuineOnly", "savedAt", "lastRun", "newMatches":
// [{"name", "url", "kind", "size", "bitrate", "mode", "verdict", "foundAt"}]}, times in ISO
// 8601 UTC (lastRun null before the first run), bitrate and mode null when unknown.
QJsonObject searchJson(const ListedSearch& listed);
// {"searches": [...]}, oldest saved first.
QByteArray listJson(const QList<ListedSearch>& list);

// The page /saved: each search with its new files and buttons to mark them seen and to
// delete the search. said: "saved", "duplicate", "full" or empty, what came of a save.
QByteArray html(const QList<ListedSearch>& list, const QString& said);

} // namespace SavedSearchPages
