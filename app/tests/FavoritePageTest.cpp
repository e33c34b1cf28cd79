#include "app/FavoritePage.h"
#include "controls/UrlLabel.h"
#include "support/FakePlatform.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <gtest/gtest.h>

namespace {

void pressEnter(QWidget* field) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(field, &press);
}

} // namespace

TEST(FavoritePage, StoreSearchesOpenTheirUrlsAndEmptyTheField) {
    FakePlatform fake;
    TFavoritePage page(fake.shell, fake.clipboard);
    const QString blvd = QStringLiteral("http://www.musicblvd.com/cgi-bin/tw?SID=58261&MT=41&"
                                        "limit=200&STORE=all&search_type=");
    struct Row {
        const char* name;
        QRadioButton* choice;
        QLineEdit* field;
        bool enter;
        QString text;
        QString opened;
    };
    const QList<Row> rows = {
        {"Amazon button", nullptr, page.AmazonEdit, false, QStringLiteral("  AC/DC \"live\" "),
         QStringLiteral("http://www.amazon.com/exec/obidos/external-search/104-5736281-3904417"
                        "?tag=vesk&mode=music&keyword=AC%2FDC+%22live%22")},
        {"Amazon empty", nullptr, page.AmazonEdit, true, QString(),
         QStringLiteral("http://www.amazon.com/exec/obidos/external-search/104-5736281-3904417"
                        "?tag=vesk&mode=music&keyword=")},
        {"artist at start", nullptr, page.MusicBlvdEdit, false, QStringLiteral("Abba"),
         blvd + QStringLiteral("artist&search_term=Abba")},
        {"album by Enter", page.AlbumRadio, page.MusicBlvdEdit, true,
         QStringLiteral("Back in Black"), blvd + QStringLiteral("album&search_term=Back+in+Black")},
        {"song", page.SongRadio, page.MusicBlvdEdit, false, QStringLiteral("T.N.T."),
         blvd + QStringLiteral("song&search_term=T.N.T.")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fake.shell.opened.clear();
        if (row.choice)
            row.choice->setChecked(true);
        row.field->setText(row.text);
        if (row.enter)
            pressEnter(row.field);
        else if (row.field == page.AmazonEdit)
            page.AmazonButton->click();
        else
            page.MusicBlvdButton->click();
        EXPECT_EQ(fake.shell.opened, QStringList{row.opened});
        EXPECT_TRUE(row.field->text().isEmpty());
    }
    fake.shell.opened.clear();
    page.Top100Label->click();
    EXPECT_EQ(fake.shell.opened,
              QStringList{"http://www.musicblvd.com/cgi-bin/tw/58261_0_lists/t100.txt"});
}
