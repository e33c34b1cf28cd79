#include "app/ListPictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>
#include <functional>

namespace {

// Every picture is drawn on a 16 x 16 grid and scaled to each size.
using Drawing = std::function<void(QPainter&)>;

QIcon render(const Drawing& draw) {
    QIcon icon;
    for (int size : {16, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 16.0, size / 16.0);
        draw(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QPen outline(const QColor& color, qreal width = 0.9) {
    QPen pen(color, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

// A round face: light and dark shade of its colour, eyes, and a mouth whose middle lies
// `curve` below (positive: smile) or above (negative: frown) its corners.
void face(QPainter& p, const QColor& light, const QColor& dark, qreal curve) {
    QRadialGradient shade(QPointF(6, 5), 9);
    shade.setColorAt(0, light);
    shade.setColorAt(1, dark);
    p.setPen(outline(dark.darker(160)));
    p.setBrush(shade);
    p.drawEllipse(QRectF(1, 1, 14, 14));

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x20, 0x20, 0x20));
    p.drawEllipse(QRectF(4.6, 5.0, 2.0, 2.4));
    p.drawEllipse(QRectF(9.4, 5.0, 2.0, 2.4));

    QPainterPath mouth;
    const qreal y = curve >= 0 ? 10.0 : 11.6;
    mouth.moveTo(4.6, y);
    mouth.quadTo(8, y + 2 * curve, 11.4, y);
    p.setPen(outline(QColor(0x20, 0x20, 0x20), 1.3));
    p.setBrush(Qt::NoBrush);
    p.drawPath(mouth);
}

void note(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2a, 0x4f, 0x9e));
    p.drawEllipse(QRectF(2.5, 10.5, 4.5, 3.6));
    p.drawEllipse(QRectF(9.5, 9.0, 4.5, 3.6));
    p.setPen(outline(QColor(0x2a, 0x4f, 0x9e), 1.4));
    p.drawLine(QPointF(6.4, 12), QPointF(6.4, 3));
    p.drawLine(QPointF(13.4, 10.5), QPointF(13.4, 1.6));
    p.setPen(outline(QColor(0x2a, 0x4f, 0x9e), 2.2));
    p.drawLine(QPointF(6.4, 3.2), QPointF(13.4, 1.8));
}

void folderWithArrow(QPainter& p) {
    QLinearGradient fill(0, 3, 0, 14);
    fill.setColorAt(0, QColor(0xff, 0xe0, 0x80));
    fill.setColorAt(1, QColor(0xe8, 0xa8, 0x20));
    p.setPen(outline(QColor(0x9a, 0x6a, 0x10)));
    p.setBrush(fill);
    QPainterPath folder;
    folder.moveTo(1, 3.5);
    folder.lineTo(6, 3.5);
    folder.lineTo(7.5, 5);
    folder.lineTo(15, 5);
    folder.lineTo(15, 14);
    folder.lineTo(1, 14);
    folder.closeSubpath();
    p.drawPath(folder);

    // A green down arrow: files come from the site.
    QPainterPath arrow;
    arrow.moveTo(6.5, 6.5);
    arrow.lineTo(9.5, 6.5);
    arrow.lineTo(9.5, 9.5);
    arrow.lineTo(11.8, 9.5);
    arrow.lineTo(8, 13.2);
    arrow.lineTo(4.2, 9.5);
    arrow.lineTo(6.5, 9.5);
    arrow.closeSubpath();
    p.setPen(outline(QColor(0x1b, 0x6e, 0x20), 0.7));
    p.setBrush(QColor(0x3c, 0xb0, 0x44));
    p.drawPath(arrow);
}

void server(QPainter& p) {
    QLinearGradient fill(2, 0, 14, 0);
    fill.setColorAt(0, QColor(0xd8, 0xdc, 0xe2));
    fill.setColorAt(1, QColor(0x90, 0x98, 0xa4));
    p.setPen(outline(QColor(0x40, 0x46, 0x50)));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(3, 1, 10, 14), 1.2, 1.2);
    p.setPen(outline(QColor(0x40, 0x46, 0x50), 0.8));
    for (qreal y : {4.5, 7.5, 10.5})
        p.drawLine(QPointF(5, y), QPointF(11, y));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x30, 0xd0, 0x40));
    p.drawEllipse(QRectF(10.2, 12.2, 1.6, 1.6));
}

void globe(QPainter& p) {
    QRadialGradient sea(QPointF(6, 5), 10);
    sea.setColorAt(0, QColor(0x8c, 0xc8, 0xff));
    sea.setColorAt(1, QColor(0x1a, 0x5c, 0xc0));
    p.setPen(outline(QColor(0x10, 0x3a, 0x80)));
    p.setBrush(sea);
    const QRectF ball(1, 1, 14, 14);
    p.drawEllipse(ball);
    p.setPen(outline(QColor(0xe8, 0xf4, 0xff), 0.7));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(4.6, 1, 6.8, 14));
    p.drawLine(QPointF(8, 1), QPointF(8, 15));
    p.drawLine(QPointF(1, 8), QPointF(15, 8));
    p.drawLine(QPointF(2.2, 4.6), QPointF(13.8, 4.6));
    p.drawLine(QPointF(2.2, 11.4), QPointF(13.8, 11.4));
}

void networkedComputer(QPainter& p) {
    // The cable and the network line under the computer.
    p.setPen(outline(QColor(0x30, 0x30, 0x30), 1.1));
    p.drawLine(QPointF(8, 11), QPointF(8, 14));
    p.drawLine(QPointF(1.5, 14.5), QPointF(14.5, 14.5));

    p.setPen(outline(QColor(0x38, 0x3c, 0x44)));
    p.setBrush(QColor(0xc8, 0xcc, 0xd4));
    p.drawRoundedRect(QRectF(1.5, 1.5, 13, 9.5), 1, 1);
    QLinearGradient screen(0, 3, 0, 9.5);
    screen.setColorAt(0, QColor(0x6a, 0xd0, 0xb0));
    screen.setColorAt(1, QColor(0x18, 0x80, 0x70));
    p.setPen(Qt::NoPen);
    p.setBrush(screen);
    p.drawRect(QRectF(3, 3, 10, 6.5));
    p.setBrush(QColor(0x38, 0x3c, 0x44));
    p.drawRect(QRectF(6, 11, 4, 1.2));
}

void magnifierOverList(QPainter& p) {
    p.setPen(outline(QColor(0x50, 0x60, 0x78), 1.0));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(1, 1, 10, 12));
    for (qreal y : {3.5, 6.0, 8.5, 11.0})
        p.drawLine(QPointF(3, y), QPointF(9, y));
    p.setPen(outline(QColor(0x70, 0x48, 0x20), 2.2));
    p.drawLine(QPointF(11.8, 11.8), QPointF(14.8, 14.8));
    p.setPen(outline(QColor(0x30, 0x30, 0x30), 1.1));
    p.setBrush(QColor(0xa0, 0xd0, 0xff, 0xa0));
    p.drawEllipse(QRectF(6, 6, 6.5, 6.5));
}

} // namespace

namespace ListPictures {

QList<QIcon> hitImages() {
    return {
        render(
            [](QPainter& p) { face(p, QColor(0xb8, 0xf0, 0x90), QColor(0x38, 0xa0, 0x30), 1.6); }),
        render([](QPainter& p) { face(p, QColor(0xff, 0xf4, 0xa0), QColor(0xe0, 0xb0, 0x10), 0); }),
        render(
            [](QPainter& p) { face(p, QColor(0xff, 0xb8, 0xa8), QColor(0xd0, 0x30, 0x28), -1.4); }),
        render(note),
    };
}

QList<QIcon> hostImages() {
    return {render(folderWithArrow), render(server), render(globe), render(networkedComputer)};
}

QIcon dialogIcon() {
    return render(magnifierOverList);
}

} // namespace ListPictures
