#include "controls/UrlLabel.h"

#include "platform/Clipboard.h"
#include "platform/Shell.h"

#include <QMenu>
#include <QMouseEvent>

TUrlLabel::TUrlLabel(IShell& shell, IClipboard& clipboard, QWidget* parent)
    : QLabel(parent), m_shell(shell), m_clipboard(clipboard) {
    setFontColor(QColor(0x00, 0x00, 0xFF));
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    setCursor(Qt::PointingHandCursor);
    setTextFormat(Qt::PlainText);

    m_menu = new QMenu(this);
    m_menu->addAction(QStringLiteral("Copy"), this, &TUrlLabel::copyCaption);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { m_menu->popup(mapToGlobal(at)); });
}

QColor TUrlLabel::fontColor() const {
    return palette().color(QPalette::WindowText);
}

void TUrlLabel::setFontColor(const QColor& color) {
    QPalette colors = palette();
    colors.setColor(QPalette::WindowText, color);
    setPalette(colors);
}

void TUrlLabel::click() {
    if (OnClick)
        OnClick(this);
    const QString link = m_url.trimmed().isEmpty() ? text() : m_url;
    if (!link.trimmed().isEmpty())
        m_shell.openWithShell(link);
}

void TUrlLabel::copyCaption() {
    m_clipboard.setText(text());
}

void TUrlLabel::mousePressEvent(QMouseEvent* event) {
    QLabel::mousePressEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    m_restColor = fontColor();
    setFontColor(m_activeColor);
}

void TUrlLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    if (m_restColor.isValid())
        setFontColor(m_restColor);
    if (rect().contains(event->position().toPoint()))
        click();
}
