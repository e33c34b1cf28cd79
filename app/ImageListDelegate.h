#pragma once

#include <QIcon>
#include <QList>
#include <QStyledItemDelegate>

// Draws a list's first column with the picture of the row's image index (a model role),
// the way a report-style list view shows its image list.
class TImageListDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    // Texts of the columns in rightAligned stand at the right edge of their cells.
    TImageListDelegate(QList<QIcon> images, int imageIndexRole, QList<int> rightAligned,
                       QObject* parent = nullptr);

    // The picture of a row's image index; none for an index outside the image list.
    QIcon imageFor(const QModelIndex& index) const;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    QList<QIcon> m_images;
    int m_role;
    QList<int> m_rightAligned;
};
