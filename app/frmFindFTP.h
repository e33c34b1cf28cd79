#pragma once

#include "service/FtpClientWalk.h"

#include <QDialog>
#include <functional>

class IShell;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTimer;

// "Searching For Ftp Programs": walks the local disks for known FTP clients shortly after it
// opens and lists what it finds; the user keeps one with OK. Input is handled during the
// walk, so OK and Cancel stop it. The dialog's result is 1 for OK and 2 for Cancel.
class TfrmFindFTP : public QDialog {
    Q_OBJECT

public:
    explicit TfrmFindFTP(IShell& shell, QWidget* parent = nullptr);

    // The path chosen when the walk ended: the selected entry, else the first; empty when
    // nothing was found.
    QString foundPath() const { return m_foundPath; }

    // The folders to walk; the local disks unless a test says otherwise.
    std::function<QStringList()> diskRoots = [] { return FtpClientWalk::localDiskRoots(); };

    QProgressBar* Animate1 = nullptr;
    QListWidget* ListBox1 = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QTimer* Timer1 = nullptr;

    // Escape works as Cancel.
    void reject() override;

signals:
    void walkEnded();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Timer1Timer();
    void finish(int result);
    void placeControls();

    IShell& m_shell;
    FtpClientWalk m_walk;
    QString m_foundPath;
    bool m_walking = false;
    int m_pendingResult = 0; // a button pressed during the walk
};
