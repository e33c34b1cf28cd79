#pragma once

#include "searchd/index/IndexTypes.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

class SqliteDatabase;

// The library's files in the SQLite engine: a table of files and an FTS5 table of their
// words (see IndexWords), matched by prefix. Results come in index order.
class SqliteLibraryIndex {
public:
    explicit SqliteLibraryIndex(SqliteDatabase& db);

    QHash<QString, LibraryStamp> stamps();
    // Adds or replaces files and drops paths, in one transaction.
    void change(const QList<LibraryChange>& store, const QStringList& drop);

    QList<IndexedFile> search(const QStringList& words, const QualityFilter& quality, int offset,
                              int limit);
    int count(const QStringList& words, const QualityFilter& quality);
    int fileCount();

    // The FTS5 query for reduced words: each quoted and taken as a prefix.
    static QString matchExpression(const QStringList& tokens);

private:
    struct Writer;

    SqliteDatabase& m_db;
};
