#include "app/ImageListDelegate.h"

TImageListDelegate::TImageListDelegate(QList<QIcon> images, int imageIndexRole,
                                       QList<int> rightAligned, QObject* parent)
    : QStyledItemDelegate(parent), m_images(std::move(images)), m_role(imageIndexRole),
      m_rightAligned(std::move(rightAligned)) {}

void TImageListDelegate::initStyleOption(QStyleOptionViewItem* option,
                                         const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    if (m_rightAligned.contains(index.column()))
        option->displayAlignment = Qt::AlignRight | Qt::AlignVCenter;
    if (index.column() != 0)
        return;
    const QIcon image = imageFor(index);
    if (image.isNull())
        return;
    option->icon = image;
    option->features |= QStyleOptionViewItem::HasDecoration;
    option->decorationSize = QSize(16, 16);
}

QIcon TImageListDelegate::imageFor(const QModelIndex& index) const {
    bool ok = false;
    const int i = index.data(m_role).toInt(&ok);
    return ok && i >= 0 && i < m_images.size() ? m_images.at(i) : QIcon();
}
