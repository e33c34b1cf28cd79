#include "search/HitListModel.h"

#include "core/HitText.h"
#include "platform/Cp1252.h"

#include <algorithm>

HitListModel::HitListModel(QObject* parent) : QAbstractTableModel(parent) {}

int HitListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

int HitListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HitListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count())
        return {};
    const Row& row = *m_rows.at(std::size_t(index.row()));
    if (role == ImageIndexRole)
        return row.hit.image;
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case CaptionColumn:
        return row.caption;
    case SizeColumn:
        return row.size;
    case InfoColumn:
        return row.info;
    default:
        return {};
    }
}

QVariant HitListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case CaptionColumn:
        return QStringLiteral("MP3 File");
    case SizeColumn:
        return QStringLiteral("Size");
    case InfoColumn:
        return QStringLiteral("File Info");
    default:
        return {};
    }
}

std::unique_ptr<HitListModel::Row> HitListModel::makeRow(const SearchHit& hit) {
    return std::make_unique<Row>(Row{hit, HitText::toUnicode(hit.caption),
                                     Cp1252::toUnicode(hit.size), Cp1252::toUnicode(hit.info)});
}

bool HitListModel::captionBefore(const std::unique_ptr<Row>& a, const std::unique_ptr<Row>& b) {
    const int order = a->caption.compare(b->caption, Qt::CaseInsensitive);
    return order != 0 ? order < 0 : a->caption < b->caption;
}

int HitListModel::addRow(const SearchHit& hit) {
    std::unique_ptr<Row> row = makeRow(hit);
    const auto at = m_sorted ? std::upper_bound(m_rows.begin(), m_rows.end(), row, captionBefore)
                             : m_rows.end();
    const int position = static_cast<int>(at - m_rows.begin());
    beginInsertRows(QModelIndex(), position, position);
    m_rows.insert(at, std::move(row));
    ++m_captionCount[hit.caption];
    endInsertRows();
    return position;
}

void HitListModel::addRows(const QList<SearchHit>& hits) {
    if (hits.isEmpty())
        return;
    // A stable sort of the old rows followed by the new ones puts each new row behind the
    // rows of the same caption, where addRow would have put it.
    beginResetModel();
    for (const SearchHit& hit : hits) {
        m_rows.push_back(makeRow(hit));
        ++m_captionCount[hit.caption];
    }
    if (m_sorted)
        std::stable_sort(m_rows.begin(), m_rows.end(), captionBefore);
    endResetModel();
}

void HitListModel::clear() {
    if (m_rows.empty())
        return;
    beginResetModel();
    m_rows.clear();
    m_captionCount.clear();
    endResetModel();
}

void HitListModel::forget(const SearchHit& hit) {
    const auto found = m_captionCount.find(hit.caption);
    if (found != m_captionCount.end() && --found.value() == 0)
        m_captionCount.erase(found);
}

void HitListModel::removeHitRows(QList<int> rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.removeIf([this](int row) { return row < 0 || row >= count(); });
    if (rows.isEmpty())
        return;
    beginResetModel();
    for (auto row = rows.crbegin(); row != rows.crend(); ++row) {
        forget(m_rows.at(std::size_t(*row))->hit);
        m_rows.erase(m_rows.begin() + *row);
    }
    endResetModel();
}

void HitListModel::setSorted(bool sorted) {
    if (sorted == m_sorted)
        return;
    m_sorted = sorted;
    if (!sorted || m_rows.size() < 2)
        return;
    emit layoutAboutToBeChanged();
    std::stable_sort(m_rows.begin(), m_rows.end(), captionBefore);
    emit layoutChanged();
}
