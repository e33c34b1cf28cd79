#include "searchd/fileservers/SmbServer.h"

#include "platform/LoopbackPorts.h"

#include "searchd/ServiceError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

const QString SmbServer::kSmbd = QStringLiteral("/usr/sbin/smbd");

namespace {

const int kStartTimeoutMs = 15000;
const QStringList kFolders = {QStringLiteral("private"), QStringLiteral("lock"),
                              QStringLiteral("state"),   QStringLiteral("cache"),
                              QStringLiteral("pid"),     QStringLiteral("ncalrpc")};

QString userName() {
    passwd entry{};
    passwd* user = nullptr;
    char buffer[4096];
    getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &user);
    return user ? QString::fromLocal8Bit(user->pw_name) : QString();
}

// smb.conf has no quoting: a value must not start or end with blanks, break the line or
// hold '%', which smbd replaces with its variables.
bool fitsConfig(const QString& value) {
    return !value.isEmpty() && value == value.trimmed() &&
           !value.contains(QRegularExpression(QStringLiteral("[%\\r\\n]")));
}

} // namespace

QByteArray SmbServer::config(const QString& folder, const QString& share, unsigned short port,
                             const QString& user) {
    return QStringLiteral("[global]\n"
                          "server role = standalone server\n"
                          "interfaces = 127.0.0.1\n"
                          "bind interfaces only = yes\n"
                          "smb ports = %2\n"
                          "disable netbios = yes\n"
                          "private dir = %1/private\n"
                          "lock directory = %1/lock\n"
                          "state directory = %1/state\n"
                          "cache directory = %1/cache\n"
                          "pid directory = %1/pid\n"
                          "ncalrpc dir = %1/ncalrpc\n"
                          "log file = %1/smbd.log\n"
                          "max log size = 1000\n"
                          "passdb backend = tdbsam:%1/private/passdb.tdb\n"
                          "map to guest = Bad User\n"
                          "guest account = %3\n"
                          "load printers = no\n"
                          "printcap name = /dev/null\n"
                          "disable spoolss = yes\n"
                          "registry shares = no\n"
                          "usershare max shares = 0\n"
                          "unix extensions = no\n"
                          "allow insecure wide links = no\n"
                          "\n"
                          "[%4]\n"
                          "path = %1/library\n"
                          "read only = yes\n"
                          "guest ok = yes\n"
                          "guest only = yes\n"
                          "follow symlinks = yes\n"
                          "wide links = no\n"
                          "hide special files = yes\n"
                          "hide unreadable = yes\n")
        .arg(folder, QString::number(port), user, share)
        .toUtf8();
}

void SmbServer::writeConfig(const QString& library, const QString& share, const QString& folder) {
    const QString user = userName();
    for (const QString& value : {folder, user}) {
        if (!fitsConfig(value))
            throw ServiceError(QStringLiteral("smb.conf cannot hold \"%1\"").arg(value));
    }
    if (!QRegularExpression(QStringLiteral("^[A-Za-z0-9_-]{1,80}$")).match(share).hasMatch())
        throw ServiceError(QStringLiteral("the share name must be letters, digits, - and _"));
    QDir dir(folder);
    for (const QString& name : kFolders) {
        if (!dir.mkpath(name))
            throw ServiceError(QStringLiteral("cannot make %1/%2").arg(folder, name));
    }
    // The share reaches the library through a link, so that no name of the library has to
    // be written into smb.conf.
    QFile::remove(dir.filePath(QStringLiteral("library")));
    if (!QFile::link(QFileInfo(library).canonicalFilePath(),
                     dir.filePath(QStringLiteral("library"))))
        throw ServiceError(QStringLiteral("cannot link the library into %1").arg(folder));
    QFile file(dir.filePath(QStringLiteral("smb.conf")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(config(folder, share, m_port, user)) < 0)
        throw ServiceError(QStringLiteral("cannot write %1").arg(file.fileName()));
}

SmbServer::SmbServer(const QString& library, const QString& share, const QString& folder) {
    if (!QFileInfo(kSmbd).isExecutable())
        throw ServiceError(kSmbd + QStringLiteral(" is not installed (Debian package samba)"));
    QString reason;
    for (int attempt = 0; attempt < 3; ++attempt) { // the port may be taken meanwhile
        m_port = FreeLoopbackPort();
        writeConfig(library, share, folder);
        m_process = std::make_unique<ChildProcess>(
            kSmbd,
            QStringList{QStringLiteral("--foreground"), QStringLiteral("--no-process-group"),
                        QStringLiteral("--debug-stdout"), QStringLiteral("--debuglevel=1"),
                        QStringLiteral("--configfile=") + folder + QStringLiteral("/smb.conf")},
            folder + QStringLiteral("/smbd.out"));
        if (m_process->waitUntilListening(m_port, kStartTimeoutMs))
            return;
        m_process->stop();
        reason = m_process->lastLogLine();
    }
    throw ServiceError(reason.isEmpty() ? QStringLiteral("it did not start") : reason);
}
