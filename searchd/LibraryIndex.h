#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class LibraryFolder;
class SqliteDatabase;

// One indexed MP3 file: where it is and what it is called.
struct IndexedFile {
    QString path; // relative to the library, '/' between folders
    qint64 size = 0;
    QString artist;
    QString title;

    // The name shown on result pages: "Artist - Title.mp3" from the tags when both are
    // known, otherwise the file's own name.
    QString displayName() const;
};

struct ScanSummary {
    int files = 0;
    int added = 0; // new or changed since the last scan
    int removed = 0;
};

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
