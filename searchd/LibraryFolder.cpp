#include "searchd/LibraryFolder.h"

#include "searchd/ServiceError.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <linux/openat2.h>
#include <memory>
#include <sys/stat.h>
#include <sys/syscall.h>
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
    m_rootFd = ::open(QFile::encodeName(m_root).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

LibraryFolder::~LibraryFolder() {
    if (m_rootFd >= 0)
        ::close(m_rootFd);
}

ServedFile::~ServedFile() {
    if (m_fd >= 0)
        ::close(m_fd);
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

// Every request opens a file: beneath the folder's own descriptor the kernel refuses a path
// that leaves the folder in one call, where realpath() reads each link of the path. A link
// the kernel will not follow beneath the folder (an absolute one) takes the slow way.
int LibraryFolder::openBeneath(const QString& relativePath) const {
    if (m_rootFd < 0)
        return -1;
    open_how how{};
    how.flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const QByteArray path = QFile::encodeName(relativePath);
    return static_cast<int>(::syscall(SYS_openat2, m_rootFd, path.constData(), &how, sizeof how));
}

int LibraryFolder::openByRealPath(const QString& relativePath) const {
    const auto real = realPathInside(relativePath); // the opened file is checked below
    if (!real)
        return -1;
    return ::open(QFile::encodeName(*real).constData(),
                  O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
}

std::shared_ptr<ServedFile> LibraryFolder::open(const QString& relativePath) const {
    if (!isSafeRelativePath(relativePath) || !isMp3Name(relativePath))
        return nullptr;
    int fd = openBeneath(relativePath);
    if (fd < 0 && errno != EMFILE && errno != ENFILE)
        fd = openByRealPath(relativePath);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_shared<ServedFile>(fd, static_cast<qint64>(info.st_size));
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
