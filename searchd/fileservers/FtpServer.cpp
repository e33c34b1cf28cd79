#include "searchd/fileservers/FtpServer.h"

#include "searchd/ServiceError.h"

#include <QFile>
#include <QFileInfo>

const QString FtpServer::kPython = QStringLiteral("/usr/bin/python3");

namespace {

// argv[1]: the library. Prints the port once it listens; logs warnings to standard error.
const char* const kScript = R"py(
import logging
import os
import stat
import sys

try:
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.filesystems import AbstractedFS, FilesystemError
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.log import config_logging
    from pyftpdlib.servers import FTPServer
except ImportError:
    sys.exit("pyftpdlib is not installed (Debian package python3-pyftpdlib)")


def servable(path):
    # A folder the server may enter, or a regular file it may read; a name with a line
    # break could not be asked for in a command.
    if "\n" in path or "\r" in path:
        return False
    try:
        mode = os.stat(path).st_mode
    except OSError:
        return False
    if stat.S_ISDIR(mode):
        return os.access(path, os.R_OK | os.X_OK)
    return stat.S_ISREG(mode) and os.access(path, os.R_OK)


class LibraryFS(AbstractedFS):
    # Every command checks its path with validpath (the real path must lie inside the
    # root); listings leave out what would fail that check or cannot be served, and show
    # links as their targets.
    def listdir(self, path):
        return [name for name in super().listdir(path)
                if self.validpath(os.path.join(path, name))
                and servable(os.path.join(path, name))]

    listdirinfo = listdir
    readlink = None

    def lstat(self, path):
        return self.stat(path)

    # The server runs one loop for every client: opening a FIFO would block them all, so
    # a file is opened without blocking and must turn out to be a regular file.
    def open(self, filename, mode):
        if "r" not in mode:
            raise FilesystemError("Read-only library")
        fd = os.open(filename, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
        try:
            if not stat.S_ISREG(os.fstat(fd).st_mode):
                raise FilesystemError("Not a regular file")
            os.set_blocking(fd, True)
            return open(filename, mode, opener=lambda path, flags: fd)
        except BaseException:
            os.close(fd)
            raise


authorizer = DummyAuthorizer()
authorizer.add_anonymous(sys.argv[1], perm="elr")
FTPHandler.authorizer = authorizer
FTPHandler.abstracted_fs = LibraryFS
FTPHandler.banner = "Pellmar library"
server = FTPServer(("127.0.0.1", 0), FTPHandler)
config_logging(level=logging.WARNING)
print(server.socket.getsockname()[1], flush=True)
server.serve_forever()
)py";

const int kStartTimeoutMs = 15000;

} // namespace

FtpServer::FtpServer(const QString& library, const QString& folder) {
    if (!QFileInfo(kPython).isExecutable())
        throw ServiceError(kPython + QStringLiteral(" is not installed (Debian package python3)"));
    const QString script = folder + QStringLiteral("/pellmar-ftp.py");
    QFile file(script);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(kScript) < 0)
        throw ServiceError(QStringLiteral("cannot write ") + script);
    file.close();
    // -I: no user site or environment variable changes what runs.
    m_process =
        std::make_unique<ChildProcess>(kPython, QStringList{QStringLiteral("-I"), script, library},
                                       folder + QStringLiteral("/ftp.log"), true);
    bool ok = false;
    const int port = m_process->readLine(kStartTimeoutMs).toInt(&ok);
    if (!ok || port <= 0 || port > 65535) {
        const QString reason = m_process->lastLogLine();
        throw ServiceError(reason.isEmpty() ? QStringLiteral("it did not start") : reason);
    }
    m_port = static_cast<unsigned short>(port);
}
