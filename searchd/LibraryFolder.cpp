#include "searchd/LibraryFolder.h"

#include "searchd/ServiceError.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A line break cannot travel in an FTP command or a listing line.
bool hasLineBreak(const QString& path) {
    return path.contains(QLatin1Char('\n')) || path.contains(QLatin1Char('\r'));
}

} // namespace

LibraryFolder::LibraryFolder(const QString& root) {
    const QFileInfo info(root);
    if (!info.isDir() || !info.isReadable())
        throw ServiceError(QStringLiteral("The library %1 is not a readable folder").arg(root));
    m_root = info.canonicalFilePath();
}

bool LibraryFolder::isMp3Name(const QString& name) {
    return name.endsWith(QLatin1String(".mp3"), Qt::CaseInsensitive) && name.size() > 4;
}

bool LibraryFolder::isSafeRelativePath(const QString& relativePath) {
    if (relativePath.isEmpty() || relativePath.contains(QChar(0)))
        return false;
    const QStringList parts = relativePath.split(QLatin1Char('/'));
    return std::none_of(parts.begin(), parts.end(), [](const QString& part) {
        return part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..");
    });
}

bool LibraryFolder::isInside(const QString& canonicalPath) const {
    return canonicalPath.startsWith(m_root + QLatin1Char('/'));
}

// The path with every link followed, when it names an MP3 file that exists inside the
// library. realpath() alone: a file is served for every request, and QFileInfo would look
// the file up again for each thing asked of it.
std::optional<QString> LibraryFolder::realPathInside(const QString& relativePath) const {
    if (!isSafeRelativePath(relativePath) || !isMp3Name(relativePath))
        return std::nullopt;
    const QByteArray joined = QFile::encodeName(m_root + QLatin1Char('/') + relativePath);
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(joined.constData(), nullptr),
                                                           &std::free);
    if (!real)
        return std::nullopt;
    const QString path = QFile::decodeName(real.get());
    if (!isInside(path))
        return std::nullopt;
    return path;
}

std::optional<QString> LibraryFolder::resolve(const QString& relativePath) const {
    auto real = realPathInside(relativePath);
    if (!real || !QFileInfo(*real).isFile())
        return std::nullopt;
    return real;
}

std::shared_ptr<QFile> LibraryFolder::open(const QString& relativePath) const {
    const auto real = realPathInside(relativePath); // the opened file is checked below
    if (!real)
        return nullptr;
    const int fd = ::open(QFile::encodeName(*real).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd < 0)
        return nullptr;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    auto file = std::make_shared<QFile>(*real);
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return nullptr;
    }
    return file;
}

QList<LibraryEntry> LibraryFolder::scan() const {
    QList<LibraryEntry> entries;
    QDirIterator it(m_root, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (!isMp3Name(info.fileName()))
            continue;
        const QString relative = info.filePath().mid(m_root.size() + 1);
        if (info.isSymLink() && !resolve(relative))
            continue;
        const QFileInfo target(info.canonicalFilePath());
        if (!target.isFile() || !target.isReadable() || hasLineBreak(relative))
            continue;
        entries.append({relative, target.size(), target.lastModified().toSecsSinceEpoch()});
    }
    std::sort(entries.begin(), entries.end(),
              [](const LibraryEntry& a, const LibraryEntry& b) { return a.path < b.path; });
    return entries;
}
