#include "app/ListDialog.h"

#include "app/ListPictures.h"
#include "platform/Errors.h"
#include "platform/Platform.h"

#include <QPushButton>
#include <QStyle>

TListDialog::TListDialog(Platform& platform, QAbstractItemView* hitList, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_platform(platform), m_hitList(hitList) {
    setWindowIcon(ListPictures::dialogIcon());
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, QColor(207, 222, 239));
    setPalette(background);

    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton),
                              QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setToolTip(QStringLiteral("OK"));
    BitBtn1->setDefault(true); // Enter in any field runs OK
    BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                              QStringLiteral("Cancel"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setToolTip(QStringLiteral("Cancel"));
    BitBtn2->setAutoDefault(false);
    // Glyph buttons: their captions are emptied at every show.
    for (QPushButton* button : {BitBtn1, BitBtn2})
        button->setFixedSize(44, 25);
    connect(BitBtn1, &QPushButton::clicked, this, [this] {
        try {
            okClicked();
        } catch (const PellmarError& error) {
            showGeneralError(m_platform.messages, error.message());
        }
        accept();
    });
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

void TListDialog::showEvent(QShowEvent* event) {
    BitBtn1->setText(QString());
    BitBtn2->setText(QString());
    QDialog::showEvent(event);
}

void TListDialog::showMessage(const QString& text) {
    m_platform.messages.show(QStringLiteral("Pellmar"), text, MessageIcon::None,
                             MessageButtons::Ok);
}
