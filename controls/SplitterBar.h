#pragma once

#include <QWidget>

// A vertical bar between two side-by-side controls; dragging it reports how far the
// pointer moved so the owner can accept or refuse the new width.
class TSplitterBar : public QWidget {
    Q_OBJECT

public:
    explicit TSplitterBar(QWidget* parent = nullptr);

Q_SIGNALS:
    void dragStarted();
    // How far the pointer is from where the drag started.
    void dragged(int totalDelta);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_dragging = false;
    int m_startX = 0;
};
