#include "searchd/pages/SavedSearchRunner.h"

#include "searchd/http/QueryText.h"
#include "searchd/index/ServiceIndex.h"

SavedSearchRunner::SavedSearchRunner(ServiceIndex& index, Link link)
    : m_index(index), m_found(index), m_link(std::move(link)) {}

SavedMatch SavedSearchRunner::matchOf(const FoundFile& found) const {
    SavedMatch match;
    const QString path = found.fromLibrary ? found.file.path : found.crawled.path;
    match.key = (found.fromLibrary ? QStringLiteral("library") : found.crawled.sourceId) +
                QLatin1Char('\n') + path;
    match.name = found.file.displayName();
    match.url = QString::fromLatin1(m_link(found));
    match.kind = found.kind();
    match.size = found.file.size;
    const ShownQuality quality = found.shownQuality();
    if (quality.known) {
        match.bitrate = quality.bitrate;
        match.mode = QString::fromLatin1(rateModeName(quality.quality.mode));
    }
    match.verdict = QString::fromLatin1(verdictName(quality.quality.verdict));
    return match;
}

QList<SavedMatch> SavedSearchRunner::run(const SavedSearch& search) {
    const std::lock_guard lock(m_mutex);
    return runLocked(search);
}

QList<SavedRun> SavedSearchRunner::runAll() {
    const std::lock_guard lock(m_mutex);
    QList<SavedRun> runs;
    for (const SavedSearch& search : m_index.savedSearches()) {
        const QList<SavedMatch> found = runLocked(search);
        if (!found.isEmpty())
            runs.append({search, found});
    }
    return runs;
}

QList<SavedMatch> SavedSearchRunner::runLocked(const SavedSearch& search) {
    const auto filter = FileFilter::ofKind(search.kind, search.minBitrate, search.genuineOnly);
    if (!filter)
        return {};
    const QSet<QString> known = m_index.savedMatchKeys(search.id);
    QList<SavedMatch> found;
    for (const FoundFile& file : m_found.search(QueryText::searchWords(search.words), *filter, 0,
                                                SavedSearchStore::kMaxMatches)) {
        SavedMatch match = matchOf(file);
        if (!known.contains(match.key))
            found.append(match);
    }
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(
        QDateTime::currentDateTimeUtc().toMSecsSinceEpoch(), Qt::UTC);
    if (!m_index.recordSavedRun(search.id, found, at) || !search.lastRun.isValid())
        return {};
    for (SavedMatch& match : found) {
        match.foundAt = at;
        match.isNew = true;
    }
    return found;
}
