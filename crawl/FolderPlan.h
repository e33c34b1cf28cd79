#pragma once

#include "crawl/CrawlTypes.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// What one listed folder becomes in the index: its MP3 files, those that kept their old
// reading and those whose head must be read, and the fingerprint of the listing that lets
// the next walk keep an unchanged folder with one request.
struct FolderPlan {
    QString folder;                 // '' for the root, else "a/b"
    QByteArray fingerprint;         // of the whole listing; empty when it lacks sizes or dates
    QList<CrawledFile> files;       // the MP3 files in listing order
    QList<int> needHead;            // indexes into files whose head is to be read
    QHash<int, CrawledFile> before; // the index's old record of such a file, when it had one

    // Builds the plan from a listing and the files the index holds for the folder: a file
    // whose size and date (or ETag) are unchanged keeps its old head; when forced, only if
    // its listing vouches for it.
    static FolderPlan make(const QString& folder, const QList<RemoteEntry>& entries,
                           const QList<CrawledFile>& old, bool forced = false);
    // Whether an unchanged fingerprint keeps the whole folder as it is.
    static bool keepsFolder(const QByteArray& before, const QByteArray& fingerprint,
                            const QList<RemoteEntry>& entries, bool forced);
    // The entry's size and date tell a changed file from the old one even within a minute.
    static bool vouches(const RemoteEntry& entry);
    static QByteArray fingerprintOf(const QList<RemoteEntry>& entries);
    // The head of files[index] could not be read (or the walk ended before it): the file
    // keeps the index's old figures (size, date, quality, tags) when it had any, its name
    // and listed size otherwise, and the folder is planned again by the next walk.
    void keepOld(int index);
    static bool isMp3(const QString& name);
    static QString join(const QString& folder, const QString& name);
};

// The reads that give one file's FileHead: the first FileHead::kFirstRead bytes, more when
// the ID3v2 tag is larger, and the last 128 bytes when the head names neither artist nor
// title. Shared by the HTTP, FTP and SMB walks, which only move the bytes.
class HeadRead {
public:
    struct Range {
        qint64 offset = 0; // -1: the last count bytes of a file of unknown size
        qint64 count = 0;  // 0: nothing more to read
        bool tail = false;
    };

    explicit HeadRead(qint64 fileSize) : m_size(fileSize) {}

    Range next() const;
    // The bytes that came for range; fileSize when the server told it (-1 otherwise).
    void add(const Range& range, const QByteArray& bytes, qint64 fileSize);
    // The read failed: what was read so far is all there is.
    void giveUp() { m_done = true; }
    bool hasHead() const { return !m_head.isEmpty(); }
    FileHead result() const;
    qint64 size() const { return m_size; }

private:
    qint64 m_size;
    QByteArray m_head;
    QByteArray m_tail;
    bool m_headEnded = false; // the file ended inside the head
    bool m_tailRead = false;
    bool m_done = false;
};
