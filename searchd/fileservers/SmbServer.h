#pragma once

#include "searchd/fileservers/ChildProcess.h"

#include <QString>
#include <memory>

// The library as a read-only guest share of Samba's smbd (Debian package samba) on
// 127.0.0.1 and a free high port. smbd runs in the foreground as the invoking user, with
// a configuration of its own in folder and its state, locks, caches, pid file and logs
// there; the system's configuration is not read. Links inside the library are followed,
// none that leads outside it ("wide links = no"); unreadable files are not listed.
//
// What smbd needs to run without root: a port above 1023, writable private, lock, state,
// cache, pid and ncalrpc folders, and the invoking user as its guest account (it cannot
// become another user). Run by root, it serves as root.
class SmbServer {
public:
    static const QString kSmbd;

    // Starts the server, its files in folder. Throws ServiceError with the reason when it
    // does not come up.
    SmbServer(const QString& library, const QString& share, const QString& folder);

    unsigned short port() const { return m_port; }
    pid_t pid() const { return m_process->pid(); }

    // smb.conf for these folders; folder/library must lead to the library.
    static QByteArray config(const QString& folder, const QString& share, unsigned short port,
                             const QString& user);

private:
    void writeConfig(const QString& library, const QString& share, const QString& folder);

    std::unique_ptr<ChildProcess> m_process;
    unsigned short m_port = 0;
};
