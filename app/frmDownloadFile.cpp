#include "app/frmDownloadFile.h"

#include "download/DownloadJob.h"
#include "platform/MessageBoxes.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

TfrmDownloadFile::TfrmDownloadFile(DownloadJob& job, IMessageBoxes& messages)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      m_job(&job), m_messages(messages) {
    setObjectName(QStringLiteral("frmDownloadFile"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFixedSize(kClientWidth, kClientHeight);
    move(kLeft, kTop);
    setAutoFillBackground(true);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    QFont small = font();
    small.setPointSize(8);
    setFont(small);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setGeometry(8, 8, 249, 16);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setTextVisible(false);

    Status = label(QStringLiteral("Status"), Qt::green, 58, 28);
    label(QStringLiteral("Bytes Received:"), Qt::yellow, 0, 48);
    InfoLabel = label(QString(), Qt::green, 88, 48);
    label(QStringLiteral("File Length:"), Qt::yellow, 144, 48);
    lblFileLength = label(QString(), Qt::green, 208, 48);
    label(QStringLiteral("kb/s:"), Qt::yellow, 53, 72);
    lblKPS = label(QString(), Qt::green, 88, 72);
    label(QStringLiteral("Time Left:"), Qt::yellow, 152, 72);
    lblTimeLeft = label(QString(), Qt::green, 208, 72);

    Button1 = new QPushButton(QStringLiteral("Ok"), this);
    Button1->setGeometry(109, 87, 49, 19);
    Button1->hide();
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setGeometry(109, 87, 49, 19);
    connect(Button1, &QPushButton::clicked, this, &TfrmDownloadFile::ButtonClick);
    connect(Button2, &QPushButton::clicked, this, &TfrmDownloadFile::ButtonClick);

    connect(&job, &DownloadJob::changed, this, &TfrmDownloadFile::ShowJob);
    // Bytes arrive in small chunks; redrawing for each would cost more than the transfer.
    m_redraw.setSingleShot(true);
    m_redraw.setInterval(kRedrawMs);
    connect(&m_redraw, &QTimer::timeout, this, &TfrmDownloadFile::ShowJob);
    connect(&job, &DownloadJob::progressed, this, [this] {
        if (!m_redraw.isActive())
            m_redraw.start();
    });
    connect(&job, &DownloadJob::message, this, [this](const QString& text) {
        m_messages.show(QStringLiteral("Pellmar"), text, MessageIcon::None, MessageButtons::Ok);
    });
    ShowJob();
}

QLabel* TfrmDownloadFile::label(const QString& text, const QColor& color, int left, int top) {
    auto* shown = new QLabel(text, this);
    QPalette colored = shown->palette();
    colored.setColor(QPalette::WindowText, color);
    shown->setPalette(colored);
    shown->move(left, top);
    shown->resize(kClientWidth - left, shown->sizeHint().height());
    return shown;
}

void TfrmDownloadFile::ShowJob() {
    m_redraw.stop();
    if (!m_job)
        return;
    setWindowTitle(m_job->caption());
    Status->setText(m_job->status());
    ProgressBar1->setValue(std::clamp(m_job->percent(), 0, 100));
    InfoLabel->setText(m_job->bytesText());
    lblFileLength->setText(m_job->fileLengthText());
    lblKPS->setText(m_job->speedText());
    lblTimeLeft->setText(m_job->timeLeftText());
    if (m_job->okVisible() && Button1->isHidden()) {
        Button1->show();
        Button1->raise(); // both buttons share one place
    }
}

void TfrmDownloadFile::ButtonClick() {
    if (m_job)
        m_job->UserStop();
}

void TfrmDownloadFile::closeEvent(QCloseEvent* event) {
    // The window never closes itself: the queue destroys it with its job.
    if (m_job)
        m_job->CloseRequest();
    event->ignore();
}
