#pragma once

#include <QIcon>
#include <QList>
#include <QStyledItemDelegate>

// Draws a list's first column with the picture of the row's image index (a model role),
// the way a report-style list view shows its image list.
class TImageListDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    TImageListDelegate(QList<QIcon> images, int imageIndexRole, QObject* parent = nullptr);

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    QList<QIcon> m_images;
    int m_role;
};
