#include "searchd/FileServers.h"

#include "searchd/ServiceSettings.h"
#include "searchd/SqliteDatabase.h"

#include <QDir>
#include <QSaveFile>

FileServers::FileServers(const QString& library, const QString& share, bool ftp, bool smb)
    : m_folder(QDir::tempPath() + QStringLiteral("/pellmar-searchd-XXXXXX")) {
    const QString noFolder = m_folder.isValid()
                                 ? QString()
                                 : QStringLiteral("cannot make a folder in ") + QDir::tempPath();
    if (ftp) {
        try {
            if (!noFolder.isEmpty())
                throw ServiceError(noFolder);
            QDir(m_folder.path()).mkdir(QStringLiteral("ftp"));
            m_ftp = std::make_unique<FtpServer>(library, m_folder.filePath(QStringLiteral("ftp")));
            m_started.append(
                QStringLiteral("FTP server on ftp://127.0.0.1:%1/").arg(m_ftp->port()));
        } catch (const ServiceError& error) {
            m_problems.append(QStringLiteral("no FTP server: ") +
                              QString::fromStdString(error.what()));
        }
    }
    if (smb) {
        try {
            if (!noFolder.isEmpty())
                throw ServiceError(noFolder);
            m_smb = std::make_unique<SmbServer>(library, share,
                                                m_folder.filePath(QStringLiteral("smb")));
            m_started.append(QStringLiteral("SMB server on \\\\127.0.0.1\\%1 port %2")
                                 .arg(share)
                                 .arg(m_smb->port()));
        } catch (const ServiceError& error) {
            m_problems.append(QStringLiteral("no SMB server: ") +
                              QString::fromStdString(error.what()));
        }
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
    const QString path = QDir(programFolder).filePath(QStringLiteral("Lanpull.ini"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write("[Lanpull]\r\nHost=127.0.0.1\r\nPort=" + QByteArray::number(m_smb->port()) +
                   "\r\n") < 0 ||
        !file.commit())
        throw ServiceError(QStringLiteral("cannot write ") + path);
    return path;
}
