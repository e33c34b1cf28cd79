#pragma once

#include <QList>
#include <QString>
#include <memory>
#include <optional>
#include <utility>

// An MP3 file found in the library, its path relative to the library folder with '/'
// between folders.
struct LibraryEntry {
    QString path;
    qint64 size = 0;
    qint64 modified = 0; // seconds since the epoch
};

// A library file opened for sending: its descriptor, owned until released, and its size.
class ServedFile {
public:
    ServedFile(int fd, qint64 size) : m_fd(fd), m_size(size) {}
    ~ServedFile();
    ServedFile(const ServedFile&) = delete;
    ServedFile& operator=(const ServedFile&) = delete;

    int handle() const { return m_fd; }
    qint64 size() const { return m_size; }
    // Hands the descriptor over to whoever closes it next.
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
    qint64 m_size;
};

// The folder of MP3 files the service indexes and serves. Nothing outside it is ever
// reached: relative paths with empty, "." or ".." parts are refused, and a file whose real
// location (after symbolic links) lies outside the folder does not count as part of it.
// Only regular files count: a FIFO or a device would block or never end a transfer.
class LibraryFolder {
public:
    // Throws ServiceError when root is not a readable folder.
    explicit LibraryFolder(const QString& root);
    ~LibraryFolder();
    LibraryFolder(const LibraryFolder&) = delete;
    LibraryFolder& operator=(const LibraryFolder&) = delete;

    QString root() const { return m_root; }

    // The real path of a served file, or nothing when relativePath does not name an MP3 file
    // inside the library.
    std::optional<QString> resolve(const QString& relativePath) const;

    // The served file opened for reading, or nothing (errno EMFILE or ENFILE when the
    // process had no descriptor left). Opens without blocking and checks the opened file
    // itself, so a FIFO put in its place meanwhile cannot stall the caller.
    std::shared_ptr<ServedFile> open(const QString& relativePath) const;

    // Every MP3 file under the folder that can be served, in path order: readable regular
    // files whose names hold no line break. Linked folders are not entered.
    QList<LibraryEntry> scan() const;

    static bool isMp3Name(const QString& name);
    static bool isSafeRelativePath(const QString& relativePath);

private:
    bool isInside(const QString& canonicalPath) const;
    std::optional<QString> realPathInside(const QString& relativePath) const;
    int openBeneath(const QString& relativePath) const;
    int openByRealPath(const QString& relativePath) const;

    QString m_root;    // canonical, without a trailing '/'
    int m_rootFd = -1; // the folder itself, for opening beneath it
};
