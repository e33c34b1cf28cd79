#pragma once

#include <QList>

class QHeaderView;

// Saved column widths for a report list. The last column of a list stretches to fill the
// view, so its shown width is not the user's width: the width set for it is kept aside and
// reported back, and widths read equal the widths last set (or dragged, for the others).
namespace ColumnWidths {

void set(QHeaderView* header, const QList<int>& widths);
QList<int> get(const QHeaderView* header);

} // namespace ColumnWidths
