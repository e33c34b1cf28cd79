#pragma once

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QMouseEvent>

// Mouse gestures on a row of a list view, as the user makes them with the left button.
inline void sendRowMouse(QAbstractItemView& view, int row, const QList<QEvent::Type>& types) {
    const QPoint at = view.visualRect(view.model()->index(row, 0)).center();
    for (QEvent::Type type : types) {
        const bool down = type != QEvent::MouseButtonRelease;
        QMouseEvent event(type, at, view.viewport()->mapToGlobal(at), Qt::LeftButton,
                          down ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view.viewport(), &event);
    }
}

inline void clickRow(QAbstractItemView& view, int row) {
    sendRowMouse(view, row, {QEvent::MouseButtonPress, QEvent::MouseButtonRelease});
}

inline void doubleClickRow(QAbstractItemView& view, int row) {
    sendRowMouse(view, row,
                 {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                  QEvent::MouseButtonRelease});
}
