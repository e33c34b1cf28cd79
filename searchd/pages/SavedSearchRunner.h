#pragma once

#include "searchd/index/SavedSearchStore.h"
#include "searchd/pages/FoundFiles.h"

#include <QByteArray>
#include <QList>
#include <functional>
#include <mutex>

class ServiceIndex;

// What one run of a saved search found that it had not found before.
struct SavedRun {
    SavedSearch search;
    QList<SavedMatch> found; // new files, in the order of the search's results
};

// Runs the saved searches over the index, as the people's page would search, and remembers
// what each found (SavedSearchStore). A search's first run only learns what is there
// already: its files are not new. Every later run reports the files no run of it had found,
// so a user is told about what appears after saving. Each run reads at most
// SavedSearchStore::kMaxMatches results. Runs happen one at a time.
class SavedSearchRunner {
public:
    using Link = std::function<QByteArray(const FoundFile&)>;

    // link gives a found file's URL, as the pages link it.
    SavedSearchRunner(ServiceIndex& index, Link link);

    // The new files of one run of search (none on its first run).
    QList<SavedMatch> run(const SavedSearch& search);
    // Runs every saved search; those that found new files, with them.
    QList<SavedRun> runAll();

    // The match a found file makes: its stable key, name, link and quality.
    SavedMatch matchOf(const FoundFile& found) const;

private:
    QList<SavedMatch> runLocked(const SavedSearch& search);

    ServiceIndex& m_index;
    FoundFiles m_found;
    Link m_link;
    std::mutex m_mutex;
};
