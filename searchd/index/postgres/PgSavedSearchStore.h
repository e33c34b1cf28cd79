#pragma once

#include "searchd/index/SavedSearchStore.h"

class PgPool;

// The saved searches and their matches in the PostgreSQL engine (tables of the schema's
// fourth step).
class PgSavedSearchStore {
public:
    explicit PgSavedSearchStore(PgPool& pool);

    SavedSearchStore::Added add(SavedSearch& search);
    QList<SavedSearch> all();
    std::optional<SavedSearch> one(qint64 id);
    bool remove(qint64 id);
    bool markSeen(qint64 id);
    QSet<QString> matchKeys(qint64 id);
    bool recordRun(qint64 id, const QList<SavedMatch>& found, const QDateTime& at);
    QList<SavedMatch> newMatches(qint64 id);

private:
    PgPool& m_pool;
};
