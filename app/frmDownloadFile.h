#pragma once

#include "download/DownloadJob.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

class IMessageBoxes;
class QLabel;
class QProgressBar;
class QPushButton;

// The small black always-on-top window that shows one download: progress, bytes, length,
// speed and time left. It holds no rules of its own: it shows its job, forwards Ok, Cancel
// and the close box to it, and shows the job's messages. It goes when its job is destroyed.
class TfrmDownloadFile : public QWidget {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 267;
    static constexpr int kClientHeight = 107;
    static constexpr int kLeft = 341;
    static constexpr int kTop = 259;
    static constexpr int kRedrawMs = 100;

    TfrmDownloadFile(DownloadJob& job, IMessageBoxes& messages);

    DownloadJob* job() const { return m_job; }

    QProgressBar* ProgressBar1 = nullptr;
    QLabel* Status = nullptr;
    QLabel* InfoLabel = nullptr;
    QLabel* lblFileLength = nullptr;
    QLabel* lblKPS = nullptr;
    QLabel* lblTimeLeft = nullptr;
    QPushButton* Button1 = nullptr; // "Ok"
    QPushButton* Button2 = nullptr; // "Cancel"

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* label(const QString& text, const QColor& color, int left, int top);
    void ShowJob();
    void ButtonClick();

    QPointer<DownloadJob> m_job;
    QTimer m_redraw;
    IMessageBoxes& m_messages;
};
