#include "app/FavoritePage.h"

#include "controls/UrlLabel.h"
#include "platform/Cp1252.h"
#include "platform/Shell.h"
#include "search/SearchRun.h"
#include "service/StoreLinks.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QLabel* paragraph(QWidget* parent, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

QString storeTitle(const char* domain) {
    return QStringLiteral("Search ") + QString::fromLatin1(domain) + QStringLiteral(" for:");
}

} // namespace

TFavoritePage::TFavoritePage(IShell& shell, IClipboard& clipboard, QWidget* parent)
    : QWidget(parent), m_shell(shell) {
    setObjectName(QStringLiteral("FavoritePage"));
    auto* column = new QVBoxLayout(this);
    auto link = [&](const QString& name, const QString& caption, const QByteArray& url) {
        auto* label = new TUrlLabel(shell, clipboard, this);
        label->setObjectName(name);
        label->setText(caption);
        label->setURL(QString::fromLatin1(url));
        return label;
    };

    column->addWidget(paragraph(
        this, QStringLiteral("If you like Pellmar, please support us by buying a record from one "
                             "of the companies below. If you do so right after being linked "
                             "from us they will share a small percentage of the profit wirh us, "
                             "giving us means to keep on developing Pellmar.")));
    Top100Label =
        link(QStringLiteral("Top100Label"), QStringLiteral("Vesk's Top 100 Favourite records"),
             StoreLinks::topHundredList());
    column->addWidget(Top100Label);

    auto* blvd = new QGroupBox(storeTitle(StoreLinks::kMusicBoulevardDomain), this);
    auto* blvdRow = new QHBoxLayout(blvd);
    ArtistRadio = new QRadioButton(QStringLiteral("Artist"), blvd);
    AlbumRadio = new QRadioButton(QStringLiteral("Album"), blvd);
    SongRadio = new QRadioButton(QStringLiteral("Song"), blvd);
    ArtistRadio->setChecked(true);
    MusicBlvdEdit = new QLineEdit(blvd);
    MusicBlvdEdit->setObjectName(QStringLiteral("MusicBlvdEdit"));
    MusicBlvdButton = new QPushButton(QStringLiteral("Search"), blvd);
    MusicBlvdButton->setObjectName(QStringLiteral("MusicBlvdButton"));
    for (QWidget* widget : {static_cast<QWidget*>(ArtistRadio), static_cast<QWidget*>(AlbumRadio),
                            static_cast<QWidget*>(SongRadio), static_cast<QWidget*>(MusicBlvdEdit),
                            static_cast<QWidget*>(MusicBlvdButton)})
        blvdRow->addWidget(widget);
    column->addWidget(blvd);

    auto* amazon = new QGroupBox(storeTitle(StoreLinks::kAmazonDomain), this);
    auto* amazonRow = new QHBoxLayout(amazon);
    AmazonEdit = new QLineEdit(amazon);
    AmazonEdit->setObjectName(QStringLiteral("AmazonEdit"));
    AmazonButton = new QPushButton(QStringLiteral("Search"), amazon);
    AmazonButton->setObjectName(QStringLiteral("AmazonButton"));
    amazonRow->addWidget(AmazonEdit, 1);
    amazonRow->addWidget(AmazonButton);
    column->addWidget(amazon);

    column->addWidget(paragraph(
        this, QStringLiteral("Visit these other great programs that we work together with:")));
    GoZillaLabel =
        link(QStringLiteral("GoZillaLabel"), QStringLiteral("Go!Zilla"), StoreLinks::kGoZillaUrl);
    column->addWidget(GoZillaLabel);
    column->addWidget(paragraph(
        this, QStringLiteral("The no.1 download manager on the market. Many advanced functions "
                             "and an \"easy to use\" interface. Totally free to use.")));
    ZipUtilityLabel = link(QStringLiteral("ZipUtilityLabel"), QStringLiteral("WinZip"),
                           StoreLinks::kZipUtilityUrl);
    column->addWidget(ZipUtilityLabel);
    column->addWidget(paragraph(
        this, QStringLiteral("Packs and unpacks ZIP files, the way most music collections "
                             "travel.")));
    column->addStretch(1);

    connect(AmazonButton, &QPushButton::clicked, this, &TFavoritePage::AmazonButtonClick);
    connect(MusicBlvdButton, &QPushButton::clicked, this, &TFavoritePage::MusicBlvdButtonClick);
    AmazonEdit->installEventFilter(this);
    MusicBlvdEdit->installEventFilter(this);
}

void TFavoritePage::AmazonButtonClick() {
    open(StoreLinks::amazonSearch(EncodeQuery(Cp1252::fromUnicode(AmazonEdit->text()))));
    AmazonEdit->clear();
}

void TFavoritePage::MusicBlvdButtonClick() {
    const auto by = ArtistRadio->isChecked()  ? StoreLinks::MusicBoulevardSearch::Artist
                    : AlbumRadio->isChecked() ? StoreLinks::MusicBoulevardSearch::Album
                                              : StoreLinks::MusicBoulevardSearch::Song;
    open(StoreLinks::musicBoulevardSearch(by,
                                          EncodeQuery(Cp1252::fromUnicode(MusicBlvdEdit->text()))));
    MusicBlvdEdit->clear();
}

void TFavoritePage::open(const QByteArray& url) {
    m_shell.openWithShell(Cp1252::toUnicode(url));
}

// Enter in a store's field searches, as its button does, and goes no further.
bool TFavoritePage::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (watched == AmazonEdit) {
                AmazonButtonClick();
                return true;
            }
            if (watched == MusicBlvdEdit) {
                MusicBlvdButtonClick();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}
