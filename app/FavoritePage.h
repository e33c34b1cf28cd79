#pragma once

#include <QWidget>

class IClipboard;
class IShell;
class QLineEdit;
class QPushButton;
class QRadioButton;
class TUrlLabel;

// The favourites page: searches in two record stores, opened in the browser, and links to
// the lists and programs the makers recommend.
class TFavoritePage : public QWidget {
    Q_OBJECT

public:
    TFavoritePage(IShell& shell, IClipboard& clipboard, QWidget* parent = nullptr);

    void AmazonButtonClick();
    void MusicBlvdButtonClick();

    TUrlLabel* Top100Label = nullptr;
    QRadioButton* ArtistRadio = nullptr;
    QRadioButton* AlbumRadio = nullptr;
    QRadioButton* SongRadio = nullptr;
    QLineEdit* MusicBlvdEdit = nullptr;
    QPushButton* MusicBlvdButton = nullptr;
    QLineEdit* AmazonEdit = nullptr;
    QPushButton* AmazonButton = nullptr;
    TUrlLabel* GoZillaLabel = nullptr;
    TUrlLabel* ZipUtilityLabel = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void open(const QByteArray& url);

    IShell& m_shell;
};
