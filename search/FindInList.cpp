#include "search/FindInList.h"

#include <QItemSelectionModel>

QString LowerCaseAZ(QString text) {
    for (QChar& c : text) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + ('a' - 'A'));
    }
    return text;
}

int FindInList(QItemSelectionModel& selection, const QString& text) {
    selection.clearSelection();
    const QAbstractItemModel* model = selection.model();
    const QString wanted = LowerCaseAZ(text);
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex caption = model->index(row, 0);
        if (LowerCaseAZ(caption.data().toString()).contains(wanted)) {
            selection.setCurrentIndex(caption,
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
            return row;
        }
    }
    return -1;
}
