#include "app/ImageListDelegate.h"

TImageListDelegate::TImageListDelegate(QList<QIcon> images, int imageIndexRole, QObject* parent)
    : QStyledItemDelegate(parent), m_images(std::move(images)), m_role(imageIndexRole) {}

void TImageListDelegate::initStyleOption(QStyleOptionViewItem* option,
                                         const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.column() != 0)
        return;
    const QVariant image = index.data(m_role);
    bool ok = false;
    const int i = image.toInt(&ok);
    if (!ok || i < 0 || i >= m_images.size())
        return;
    option->icon = m_images.at(i);
    option->features |= QStyleOptionViewItem::HasDecoration;
    option->decorationSize = QSize(16, 16);
}
