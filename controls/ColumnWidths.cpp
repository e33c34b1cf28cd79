#include "controls/ColumnWidths.h"

#include <QHeaderView>
#include <QVariant>
#include <algorithm>

namespace ColumnWidths {

namespace {

constexpr char kLastColumnWidth[] = "pellmarLastColumnWidth";

bool stretchesLast(const QHeaderView* header, int column) {
    return header->stretchLastSection() && column == header->count() - 1;
}

} // namespace

void set(QHeaderView* header, const QList<int>& widths) {
    if (widths.isEmpty())
        return;
    // A saved width below the style's minimum would otherwise come back wider.
    const int smallest = std::max(0, *std::min_element(widths.begin(), widths.end()));
    if (smallest < header->minimumSectionSize())
        header->setMinimumSectionSize(smallest);
    for (int column = 0; column < std::min<int>(widths.size(), header->count()); ++column) {
        const int width = std::max(0, widths[column]);
        if (stretchesLast(header, column))
            header->setProperty(kLastColumnWidth, width);
        header->resizeSection(column, width);
    }
}

QList<int> get(const QHeaderView* header) {
    QList<int> widths;
    for (int column = 0; column < header->count(); ++column) {
        const QVariant kept = header->property(kLastColumnWidth);
        widths.append(stretchesLast(header, column) && kept.isValid()
                          ? kept.toInt()
                          : header->sectionSize(column));
    }
    return widths;
}

} // namespace ColumnWidths
