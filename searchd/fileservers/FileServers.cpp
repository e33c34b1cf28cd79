#include "searchd/fileservers/FileServers.h"

#include "searchd/ServiceError.h"
#include "searchd/ServiceSettings.h"

#include <QDir>
#include <QSaveFile>

namespace {

// Runs start; a failure is kept as "no KIND server: reason".
template <typename Start>
void attempt(const QString& kind, QStringList& problems, const Start& start) {
    try {
        start();
    } catch (const ServiceError& error) {
        problems.append(
            QStringLiteral("no %1 server: %2").arg(kind, QString::fromStdString(error.what())));
    }
}

} // namespace

FileServers::FileServers(const QString& library, const QString& share, bool ftp, bool smb)
    : m_folder(QDir::tempPath()) {
    const auto folder = [this](const QString& name) {
        if (!m_folder.isValid())
            throw ServiceError(QStringLiteral("cannot make a folder in ") + QDir::tempPath());
        QDir(m_folder.path()).mkdir(name);
        return m_folder.filePath(name);
    };
    if (ftp) {
        attempt(QStringLiteral("FTP"), m_problems, [&] {
            m_ftp = std::make_unique<FtpServer>(library, folder(QStringLiteral("ftp")));
            m_started.append(
                QStringLiteral("FTP server on ftp://127.0.0.1:%1/").arg(m_ftp->port()));
        });
    }
    if (smb) {
        attempt(QStringLiteral("SMB"), m_problems, [&] {
            m_smb = std::make_unique<SmbServer>(library, share, folder(QStringLiteral("smb")));
            m_started.append(QStringLiteral("SMB server on \\\\127.0.0.1\\%1 port %2")
                                 .arg(share)
                                 .arg(m_smb->port()));
        });
    }
}

FileServers::~FileServers() {
    // The servers end before their folder goes.
    m_ftp.reset();
    m_smb.reset();
}

void FileServers::describeIn(ServiceSettings& settings) const {
    if (m_ftp)
        settings.ftpSite = QStringLiteral("anonymous@127.0.0.1:%1").arg(m_ftp->port());
    if (m_smb)
        settings.smbHost = QStringLiteral("127.0.0.1");
}

QString FileServers::writeLanpullIni(const QString& programFolder) const {
    if (!m_smb)
        return {};
    QString path = QDir(programFolder).filePath(QStringLiteral("Lanpull.ini"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write("[Lanpull]\r\nHost=127.0.0.1\r\nPort=" + QByteArray::number(m_smb->port()) +
                   "\r\n") < 0 ||
        !file.commit())
        throw ServiceError(QStringLiteral("cannot write ") + path);
    return path;
}
