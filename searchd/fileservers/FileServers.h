#pragma once

#include "searchd/fileservers/FtpServer.h"
#include "searchd/fileservers/PrivateFolder.h"
#include "searchd/fileservers/SmbServer.h"

#include <QStringList>
#include <memory>

struct ServiceSettings;

// The library served over FTP and SMB beside the search service, for as long as the object
// lives. The servers keep their files in a private temporary folder. A server that cannot
// start is left out, and why is kept for the service to report.
class FileServers {
public:
    FileServers(const QString& library, const QString& share, bool ftp, bool smb);
    ~FileServers();
    FileServers(const FileServers&) = delete;
    FileServers& operator=(const FileServers&) = delete;

    const FtpServer* ftp() const { return m_ftp.get(); }
    const SmbServer* smb() const { return m_smb.get(); }

    // One line for each server that runs, and one for each that could not start.
    const QStringList& started() const { return m_started; }
    const QStringList& problems() const { return m_problems; }

    // Points the FTP and SMB listings at the servers that run.
    void describeIn(ServiceSettings& settings) const;

    // The program's SMB fetch program takes the port from "Lanpull.ini" in the program
    // folder, since a UNC path has none; the file names the host, so that shares of other
    // computers keep the usual port. Returns the file written, empty when no SMB
    // server runs; throws ServiceError when the file cannot be written.
    QString writeLanpullIni(const QString& programFolder) const;

private:
    PrivateFolder m_folder;
    std::unique_ptr<FtpServer> m_ftp;
    std::unique_ptr<SmbServer> m_smb;
    QStringList m_started;
    QStringList m_problems;
};
