#pragma once

#include "search/HitRows.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QString>
#include <memory>
#include <vector>

// The hit list: one row per hit with the columns "MP3 File", "Size" and "File Info", and
// the quality mark as an image index the view turns into a picture. In sorted mode a new
// row takes its place in caption order (letter case ignored, then as written); in
// unsorted mode rows stand in the order they came.
class HitListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { CaptionColumn = 0, SizeColumn = 1, InfoColumn = 2, ColumnCount = 3 };
    // The quality mark (QualityMark) of a row, on every column.
    static constexpr int ImageIndexRole = Qt::UserRole + 1;

    explicit HitListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Appends a row, or inserts it in caption order in sorted mode. Returns its row.
    int addRow(const SearchHit& hit);
    // Adds the rows as addRow one after the other would, in one batch.
    void addRows(const QList<SearchHit>& hits);
    // Removes every row in one batch.
    void clear();
    // Removes the given rows in one batch.
    void removeHitRows(QList<int> rows);

    void setSorted(bool sorted);
    bool isSorted() const { return m_sorted; }

    // True when some row has exactly this caption (letter case counts).
    bool hasCaption(const QByteArray& caption) const { return m_captionCount.contains(caption); }
    const SearchHit& hit(int row) const { return m_rows.at(std::size_t(row))->hit; }
    int count() const { return static_cast<int>(m_rows.size()); }

private:
    struct Row {
        SearchHit hit;
        QString caption; // as shown
        QString size;
        QString info;
    };
    static std::unique_ptr<Row> makeRow(const SearchHit& hit);
    static bool captionBefore(const std::unique_ptr<Row>& a, const std::unique_ptr<Row>& b);
    void forget(const SearchHit& hit);

    // Rows are held by pointer: a sorted insertion moves pointers, not rows.
    std::vector<std::unique_ptr<Row>> m_rows;
    QHash<QByteArray, int> m_captionCount;
    bool m_sorted = false;
};
