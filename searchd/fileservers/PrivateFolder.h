#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <sys/types.h>

// The servers' private folder "pellmar-searchd-XXXXXX" in the temporary folder, removed
// when the object goes. A killed service cannot remove it, so the folder carries a mark with
// the process id and start time of the service that made it: a later service removes the
// folders whose service no longer runs, and nothing that lacks the mark.
class PrivateFolder {
public:
    static const QString kMarkName;

    explicit PrivateFolder(const QString& tempPath);

    bool isValid() const { return m_valid; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

    // Removes the marked folders in tempPath whose service has ended; returns their paths.
    static QStringList removeStale(const QString& tempPath);

    // What the mark of a folder made by process pid holds; empty when pid does not run.
    static QByteArray markFor(pid_t pid);

private:
    QTemporaryDir m_dir;
    bool m_valid = false;
};
