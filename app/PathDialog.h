#pragma once

#include <QString>

class IFileDialogs;

// Asks for a folder with the desktop's folder dialog. Directory is the folder shown first
// and, after a choice, the one chosen.
class TPathDialog {
public:
    explicit TPathDialog(IFileDialogs& dialogs) : m_dialogs(dialogs) {}

    QString Title;
    QString Directory() const { return m_directory; }
    // Drops one trailing slash or backslash (but keeps the root folder "/").
    void setDirectory(const QString& directory);

    // True when the user chose a folder; Directory then holds it.
    bool Execute();

private:
    IFileDialogs& m_dialogs;
    QString m_directory;
};
