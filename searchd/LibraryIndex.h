#pragma once

#include "searchd/IndexTypes.h"

#include <QList>
#include <QString>
#include <QStringList>

class LibraryFolder;
class SqliteDatabase;

// The full-text index of the library in SQLite (FTS5). A search matches files that hold
// every word of the query, case-insensitively and ignoring accents, in their path, artist or
// title; a word also matches longer words that start with it. Results come in index order.
class LibraryIndex {
public:
    explicit LibraryIndex(SqliteDatabase& db);

    // Brings the index in line with the folder: files whose size and time are unchanged
    // keep their entry; tags are read only for new or changed files.
    ScanSummary rescan(const LibraryFolder& library);

    // Adds or replaces files, in one transaction.
    void add(const QList<IndexedFile>& files);

    QList<IndexedFile> search(const QStringList& words, int offset, int limit);
    // How many files search() finds for words in all.
    int count(const QStringList& words);
    int fileCount();

    // The FTS5 query for words: each word quoted and taken as a prefix.
    static QString matchExpression(const QStringList& words);
    // The text the index searches for a path: its folders and its name without ".mp3".
    static QString searchableName(const QString& path);

private:
    struct Writer;

    SqliteDatabase& m_db;
};
