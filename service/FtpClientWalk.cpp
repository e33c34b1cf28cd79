#include "service/FtpClientWalk.h"

#include <QFile>
#include <array>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace {

const std::array<const char*, 4> kClientNames = {"CUTFTP", "BPFTP", "LEECHFTP", "WS_FTP95"};

// File systems that hold no programs of a local disk: kernel views, memory and network.
const std::array<const char*, 30> kSkippedTypes = {"proc",
                                                   "sysfs",
                                                   "devtmpfs",
                                                   "devpts",
                                                   "tmpfs",
                                                   "ramfs",
                                                   "cgroup",
                                                   "cgroup2",
                                                   "mqueue",
                                                   "debugfs",
                                                   "tracefs",
                                                   "securityfs",
                                                   "pstore",
                                                   "bpf",
                                                   "autofs",
                                                   "hugetlbfs",
                                                   "fusectl",
                                                   "configfs",
                                                   "binfmt_misc",
                                                   "efivarfs",
                                                   "rpc_pipefs",
                                                   "nsfs",
                                                   "nfs",
                                                   "nfs4",
                                                   "cifs",
                                                   "smb3",
                                                   "smbfs",
                                                   "fuse.sshfs",
                                                   "fuse.gvfsd-fuse",
                                                   "9p"};

// Mount points write blanks, tabs, newlines and backslashes as octal escapes.
QByteArray unescapeMountPoint(const QByteArray& field) {
    auto octal = [](char c) { return c >= '0' && c <= '7'; };
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && octal(field[i + 1]) &&
            octal(field[i + 2]) && octal(field[i + 3])) {
            out.append(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                         (field[i + 3] - '0')));
            i += 3;
            continue;
        }
        out.append(field[i]);
    }
    return out;
}

bool insideKernelViews(const QByteArray& path) {
    for (const QByteArray& view : {QByteArrayLiteral("/proc"), QByteArrayLiteral("/sys")}) {
        if (path == view || path.startsWith(view + '/'))
            return true;
    }
    return false;
}

QByteArray join(const QByteArray& folder, const char* name) {
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

} // namespace

QStringList FtpClientWalk::localDiskRoots(const QByteArray& mounts) {
    QStringList roots;
    for (const QByteArray& line : mounts.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 3)
            continue;
        const QByteArray point = unescapeMountPoint(fields[1]);
        const QByteArray& type = fields[2];
        bool skipped = insideKernelViews(point) || !point.startsWith('/');
        for (const char* pseudo : kSkippedTypes)
            skipped = skipped || type == pseudo;
        const QString root = QFile::decodeName(point);
        if (!skipped && !roots.contains(root))
            roots.append(root);
    }
    return roots;
}

QStringList FtpClientWalk::localDiskRoots() {
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    if (!mounts.open(QIODevice::ReadOnly))
        return {};
    return localDiskRoots(mounts.readAll());
}

QStringList FtpClientWalk::matchingClients(const QString& fileName) {
    const QString upper = fileName.toUpper();
    QStringList clients;
    if (!upper.endsWith(QStringLiteral(".EXE")))
        return clients;
    for (const char* client : kClientNames) {
        if (upper.contains(QLatin1String(client)))
            clients.append(QLatin1String(client));
    }
    return clients;
}

void FtpClientWalk::walk(const QString& root) {
    const QByteArray path = QFile::encodeName(root);
    struct stat info {};
    if (insideKernelViews(path) || lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return;
    walkFolder(path, info.st_dev);
}

void FtpClientWalk::walkFolder(const QByteArray& folder, unsigned long long device) {
    const std::unique_ptr<DIR, DirCloser> listing(opendir(folder.constData()));
    if (!listing)
        return; // a folder that cannot be listed is skipped
    int entries = 0;
    while (const dirent* entry = readdir(listing.get())) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray path = join(folder, entry->d_name);
        struct stat info {};
        // lstat: a symbolic link is neither a program nor a folder to enter.
        if (lstat(path.constData(), &info) == 0) {
            if (S_ISREG(info.st_mode)) {
                const int matches =
                    static_cast<int>(matchingClients(QFile::decodeName(name)).size());
                for (int i = 0; i < matches; ++i) {
                    const QString found = QFile::decodeName(path);
                    m_found.append(found);
                    if (onFound)
                        onFound(found);
                }
            } else if (S_ISDIR(info.st_mode) && info.st_dev == device && !insideKernelViews(path)) {
                walkFolder(path, device);
            }
        }
        if (++entries % 10 == 0 && letInputThrough)
            letInputThrough();
        if (m_stopped)
            return;
    }
}
