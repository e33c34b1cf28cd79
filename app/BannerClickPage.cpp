#include "app/BannerClickPage.h"

#include "controls/UrlLabel.h"
#include "service/StoreLinks.h"

#include <QLabel>
#include <QVBoxLayout>

TBannerClickPage::TBannerClickPage(IShell& shell, IClipboard& clipboard, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("BannerClickPage"));
    auto* column = new QVBoxLayout(this);
    auto* thanks = new QLabel(QStringLiteral("Thank you for visiting our sponsor!"), this);
    QFont bold = thanks->font();
    bold.setBold(true);
    thanks->setFont(bold);
    column->addWidget(thanks);
    column->addWidget(
        new QLabel(QStringLiteral("Here are some links that you may find usesful:"), this));
    MakerLabel = new TUrlLabel(shell, clipboard, this);
    MakerLabel->setObjectName(QStringLiteral("MakerLabel"));
    MakerLabel->setText(QStringLiteral("Vesk's Software"));
    MakerLabel->setURL(QString::fromLatin1(StoreLinks::kMakerUrl));
    column->addWidget(MakerLabel);
    auto* about = new QLabel(
        QStringLiteral("Here you find information about (and can download for free) all the "
                       "latest programs in the \"Vesk's -series\". The latest BETA version of "
                       "Pellmar is also here."),
        this);
    about->setWordWrap(true);
    column->addWidget(about);
    column->addStretch(1);
}
