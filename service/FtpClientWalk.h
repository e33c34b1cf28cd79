#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Looks for the programs of four known FTP clients on the local disks: a depth-first walk
// over each disk's folders that matches file names ending in ".exe" against the clients'
// names, ignoring case. It stays on the disk it started on, follows no symbolic link and
// never enters /proc or /sys.
class FtpClientWalk {
public:
    // Called with the path of every match, in the order found.
    std::function<void(const QString& path)> onFound;
    // Called after every tenth entry of a folder, so that a window can handle input.
    std::function<void()> letInputThrough;

    // The mount points of local disk file systems in the order mounts lists them, from a
    // text in the format of /proc/self/mounts; pseudo and network file systems are skipped.
    static QStringList localDiskRoots(const QByteArray& mounts);
    static QStringList localDiskRoots(); // of this machine

    // The client names a file name matches, in the order of the known names; nothing for a
    // name without the extension ".exe".
    static QStringList matchingClients(const QString& fileName);

    // Walks root and everything below it on the same file system, until stopped.
    void walk(const QString& root);
    void stop() { m_stopped = true; }
    void clearStop() { m_stopped = false; }
    bool stopped() const { return m_stopped; }
    const QStringList& found() const { return m_found; }

private:
    void walkFolder(const QByteArray& folder, unsigned long long device);

    QStringList m_found;
    bool m_stopped = false;
};
