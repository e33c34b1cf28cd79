#pragma once

#include "searchd/fileservers/ChildProcess.h"

#include <QString>
#include <memory>

// The library as a read-only anonymous FTP site on 127.0.0.1 and a port the system picks:
// pyftpdlib (Debian package python3-pyftpdlib) run by a small script inside this program.
// Anonymous users may change folders, list and fetch ("elr"); a name whose real location
// (after symbolic links) lies outside the library is neither listed nor reachable, and
// links inside it show as what they point to. Only regular files are fetched, and only
// those and folders that can be served are listed.
class FtpServer {
public:
    static const QString kPython; // Debian's interpreter, the one that sees Debian's modules

    // Starts the server, its log in folder. Throws ServiceError with the reason when it
    // does not come up.
    FtpServer(const QString& library, const QString& folder);

    unsigned short port() const { return m_port; }
    pid_t pid() const { return m_process->pid(); }

private:
    std::unique_ptr<ChildProcess> m_process;
    unsigned short m_port = 0;
};
