#include "controls/SplitterBar.h"

#include <QMouseEvent>

TSplitterBar::TSplitterBar(QWidget* parent) : QWidget(parent) {
    setFixedWidth(4);
    setCursor(Qt::SplitHCursor);
}

void TSplitterBar::mousePressEvent(QMouseEvent* event) {
    m_dragging = event->button() == Qt::LeftButton;
    m_startX = event->globalPosition().toPoint().x();
    if (m_dragging)
        Q_EMIT dragStarted();
}

void TSplitterBar::mouseMoveEvent(QMouseEvent* event) {
    if (!m_dragging)
        return;
    Q_EMIT dragged(event->globalPosition().toPoint().x() - m_startX);
}

void TSplitterBar::mouseReleaseEvent(QMouseEvent*) {
    m_dragging = false;
}
