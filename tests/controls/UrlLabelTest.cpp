#include "controls/UrlLabel.h"
#include "support/FakePlatform.h"

#include <QCoreApplication>
#include <QMenu>
#include <QMouseEvent>
#include <gtest/gtest.h>

namespace {

void mouse(QWidget& widget, QEvent::Type type, Qt::MouseButton button) {
    QMouseEvent event(type, QPointF(2, 2), widget.mapToGlobal(QPointF(2, 2)), button,
                      type == QEvent::MouseButtonPress ? button : Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &event);
}

} // namespace

TEST(UrlLabelTest, ClickOpensTheUrlOrElseTheCaption) {
    struct Row {
        const char* url;
        const char* caption;
        QStringList opened;
    };
    for (const Row& row : {Row{"", "http://home.example", {"http://home.example"}},
                           Row{"   ", "http://b.example/", {"http://b.example/"}},
                           Row{" http://x.example ", "Our site", {" http://x.example "}},
                           Row{"", "  ", {}}, Row{" ", "", {}}}) {
        FakePlatform fake;
        TUrlLabel label(fake.shell, fake.clipboard);
        label.setURL(QString::fromLatin1(row.url));
        label.setText(QString::fromLatin1(row.caption));
        int clicks = 0;
        label.OnClick = [&](TUrlLabel*) { clicks += fake.shell.opened.isEmpty(); };
        label.resize(100, 20);
        mouse(label, QEvent::MouseButtonPress, Qt::LeftButton);
        mouse(label, QEvent::MouseButtonRelease, Qt::LeftButton);
        EXPECT_EQ(fake.shell.opened, row.opened) << row.url << "|" << row.caption;
        EXPECT_EQ(clicks, 1); // before the link was opened
    }
}

TEST(UrlLabelTest, CopyPutsTheCaptionOnTheClipboard) {
    FakePlatform fake;
    TUrlLabel label(fake.shell, fake.clipboard);
    label.setURL(QStringLiteral("http://elsewhere.example"));
    label.setText(QStringLiteral("http://home.example"));
    ASSERT_EQ(label.contextMenu()->actions().size(), 1);
    EXPECT_EQ(label.contextMenu()->actions()[0]->text(), QStringLiteral("Copy"));
    label.contextMenu()->actions()[0]->trigger();
    EXPECT_EQ(fake.clipboard.content, QStringLiteral("http://home.example"));
    EXPECT_TRUE(fake.shell.opened.isEmpty());
}

TEST(UrlLabelTest, HoldingTheLeftButtonShowsTheActiveColour) {
    FakePlatform fake;
    TUrlLabel label(fake.shell, fake.clipboard);
    label.resize(100, 20);
    EXPECT_EQ(label.fontColor(), QColor(0, 0, 255));
    EXPECT_TRUE(label.font().underline());
    EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);
    mouse(label, QEvent::MouseButtonPress, Qt::RightButton);
    EXPECT_EQ(label.fontColor(), QColor(0, 0, 255));
    mouse(label, QEvent::MouseButtonRelease, Qt::RightButton);
    mouse(label, QEvent::MouseButtonPress, Qt::LeftButton);
    EXPECT_EQ(label.fontColor(), QColor(0x80, 0x00, 0x80));
    mouse(label, QEvent::MouseButtonRelease, Qt::LeftButton);
    EXPECT_EQ(label.fontColor(), QColor(0, 0, 255));
}
