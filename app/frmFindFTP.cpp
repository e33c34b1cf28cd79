#include "app/frmFindFTP.h"

#include "platform/ProgramFolder.h"
#include "platform/Shell.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace {

constexpr int kOk = 1;
constexpr int kCancel = 2;

} // namespace

TfrmFindFTP::TfrmFindFTP(IShell& shell, QWidget* parent) : QDialog(parent), m_shell(shell) {
    setObjectName(QStringLiteral("frmFindFTP"));
    setWindowTitle(QStringLiteral("Searching For Ftp Programs"));
    setSizeGripEnabled(true);
    setMinimumSize(378, 331);
    resize(556, 461);

    Animate1 = new QProgressBar(this);
    Animate1->setObjectName(QStringLiteral("Animate1"));
    Animate1->setTextVisible(false);
    Animate1->setRange(0, 1);
    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setSingleShot(true);
    Timer1->setInterval(500);

    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    connect(OKButton, &QPushButton::clicked, this, [this] { finish(kOk); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { finish(kCancel); });
    m_walk.onFound = [this](const QString& path) { ListBox1->addItem(path); };
    m_walk.letInputThrough = [] { QCoreApplication::processEvents(); };
}

void TfrmFindFTP::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    m_walk.clearStop();
    m_pendingResult = 0;
    ListBox1->clear();
    placeControls();
    Timer1->start();
}

void TfrmFindFTP::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    placeControls();
}

// The controls are centred on the window's middle.
void TfrmFindFTP::placeControls() {
    const int half = width() / 2;
    Animate1->setGeometry(half - 24, 12, 48, 12);
    ListBox1->setGeometry(half - 130, 36, 260, std::max(40, height() - 36 - 56));
    OKButton->setGeometry(half - 100, height() - 40, 85, 27);
    CancelButton->setGeometry(half + 15, height() - 40, 85, 27);
}

void TfrmFindFTP::Timer1Timer() {
    m_walking = true;
    Animate1->setRange(0, 0); // runs while the walk does
    for (const QString& root : diskRoots()) {
        m_walk.walk(root);
        if (m_walk.stopped())
            break;
    }
    Animate1->setRange(0, 1);
    m_walking = false;

    if (ListBox1->count() == 0) {
        m_foundPath.clear();
        m_shell.openWithShell(ProgramFolder::file(QStringLiteral("help/ftp.htm")));
    } else {
        const int row = ListBox1->currentRow() >= 0 ? ListBox1->currentRow() : 0;
        m_foundPath = ListBox1->item(row)->text();
    }
    emit walkEnded();
    if (m_pendingResult != 0)
        done(m_pendingResult);
}

// OK and Cancel stop a running walk; the window closes once it has unwound.
void TfrmFindFTP::finish(int result) {
    m_walk.stop();
    if (m_walking)
        m_pendingResult = result;
    else
        done(result);
}

void TfrmFindFTP::closeEvent(QCloseEvent* event) {
    // Closed by its frame, the walk goes on to its end first.
    if (m_walking) {
        m_pendingResult = kCancel;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event); // through reject(): Cancel
}

void TfrmFindFTP::reject() {
    finish(kCancel);
}
