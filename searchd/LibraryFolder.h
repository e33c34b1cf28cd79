#pragma once

#include <QFile>
#include <QList>
#include <QString>
#include <memory>
#include <optional>

// An MP3 file found in the library, its path relative to the library folder with '/'
// between folders.
struct LibraryEntry {
    QString path;
    qint64 size = 0;
    qint64 modified = 0; // seconds since the epoch
};

// The folder of MP3 files the service indexes and serves. Nothing outside it is ever
// reached: relative paths with empty, "." or ".." parts are refused, and a file whose real
// location (after symbolic links) lies outside the folder does not count as part of it.
// Only regular files count: a FIFO or a device would block or never end a transfer.
class LibraryFolder {
public:
    // Throws ServiceError when root is not a readable folder.
    explicit LibraryFolder(const QString& root);

    QString root() const { return m_root; }

    // The real path of a served file, or nothing when relativePath does not name an MP3 file
    // inside the library.
    std::optional<QString> resolve(const QString& relativePath) const;

    // The served file opened for reading, or nothing. Opens without blocking and checks the
    // opened file itself, so a FIFO put in its place meanwhile cannot stall the caller.
    std::shared_ptr<QFile> open(const QString& relativePath) const;

    // Every MP3 file under the folder that can be served, in path order: readable regular
    // files whose names hold no line break. Linked folders are not entered.
    QList<LibraryEntry> scan() const;

    static bool isMp3Name(const QString& name);
    static bool isSafeRelativePath(const QString& relativePath);

private:
    bool isInside(const QString& canonicalPath) const;
    std::optional<QString> realPathInside(const QString& relativePath) const;

    QString m_root; // canonical, without a trailing '/'
};
