#include "app/GetNewPagesVersion.h"

#include "service/PagesRefresh.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>

TGetNewPagesVersion::TGetNewPagesVersion(const SettingsFile& ini, const QString& dataFilePath,
                                         std::function<void()> reloadDataFile, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint),
      m_refresh(new PagesRefresh(ini, dataFilePath, std::move(reloadDataFile), this)) {
    setObjectName(QStringLiteral("GetNewPagesVersion"));
    setWindowTitle(QStringLiteral("Update"));
    setFixedSize(182, 88);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, Qt::red);
    setPalette(palette);

    Label1 = new QLabel(QStringLiteral("Updating search engine..."), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setGeometry(0, 16, 182, 20);

    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setGeometry(53, 52, 75, 25);
    CancelButton->setPalette(QPalette());
    // Cancel only closes the window: an answer that arrives later may still replace the
    // data file, and does so only with a valid one.
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_refresh, &PagesRefresh::finished, this, &TGetNewPagesVersion::RequestDone);
}

void TGetNewPagesVersion::setUrl(const QByteArray& url) {
    m_refresh->setUrl(url);
}

QByteArray TGetNewPagesVersion::url() const {
    return m_refresh->url();
}

void TGetNewPagesVersion::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QScreen* desktop = screen())
        move(desktop->availableGeometry().center() - rect().center());
    Label1->setText(QStringLiteral("Updating search engine..."));
    m_refresh->start();
}

void TGetNewPagesVersion::RequestDone(bool saved) {
    if (isVisible())
        done(saved ? QDialog::Accepted : QDialog::Rejected);
}
