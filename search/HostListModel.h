#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QList>

// One row of the host list: a source kind with its number of files.
struct HostEntry {
    QByteArray caption;
    int image = 0;
    int files = 0;
    QByteArray rel;
};

// The host list: the columns "Host", "Files" and "Rel.", read-only. A search start makes
// the rows "HTTP Links" and "SMB Links"; an FTP answer with records appends "FTP Links".
class HostListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { HostColumn = 0, FilesColumn = 1, RelColumn = 2, ColumnCount = 3 };
    enum HostRow { HttpRow = 0, SmbRow = 1, FtpRow = 2 };
    // The picture of a row's source kind, on every column.
    static constexpr int ImageIndexRole = Qt::UserRole + 1;

    explicit HostListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    void clear();
    // "HTTP Links" and "SMB Links" with no files.
    void addFixedRows();
    // "FTP Links" with its count.
    void appendFtpRow(int files);
    void setFiles(int row, int files);
    void addFiles(int row, int more);

    const HostEntry& entry(int row) const { return m_rows.at(row); }
    int count() const { return static_cast<int>(m_rows.size()); }

private:
    void append(const HostEntry& entry);

    QList<HostEntry> m_rows;
};
