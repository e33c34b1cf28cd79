#pragma once

#include "searchd/index/SavedSearchStore.h"

class SqliteDatabase;

// The saved searches and their matches in the SQLite engine.
class SqliteSavedSearchStore {
public:
    explicit SqliteSavedSearchStore(SqliteDatabase& db);

    SavedSearchStore::Added add(SavedSearch& search);
    QList<SavedSearch> all();
    std::optional<SavedSearch> one(qint64 id);
    bool remove(qint64 id);
    bool markSeen(qint64 id);
    QSet<QString> matchKeys(qint64 id);
    bool recordRun(qint64 id, const QList<SavedMatch>& found, const QDateTime& at);
    QList<SavedMatch> newMatches(qint64 id);

private:
    bool exists(qint64 id);

    SqliteDatabase& m_db;
};
