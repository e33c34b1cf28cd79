#include "search/HostListModel.h"

#include "platform/Cp1252.h"

HostListModel::HostListModel(QObject* parent) : QAbstractTableModel(parent) {}

int HostListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

int HostListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HostListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count())
        return {};
    const HostEntry& row = m_rows.at(index.row());
    if (role == ImageIndexRole)
        return row.image;
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case HostColumn:
        return Cp1252::toUnicode(row.caption);
    case FilesColumn:
        return QString::number(row.files);
    case RelColumn:
        return Cp1252::toUnicode(row.rel);
    default:
        return {};
    }
}

QVariant HostListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case HostColumn:
        return QStringLiteral("Host");
    case FilesColumn:
        return QStringLiteral("Files");
    case RelColumn:
        return QStringLiteral("Rel.");
    default:
        return {};
    }
}

void HostListModel::clear() {
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void HostListModel::append(const HostEntry& entry) {
    const int row = count();
    beginInsertRows(QModelIndex(), row, row);
    m_rows.append(entry);
    endInsertRows();
}

void HostListModel::addFixedRows() {
    append({"HTTP Links", 2, 0, "99"});
    append({"SMB Links", 3, 0, "80"});
}

void HostListModel::appendFtpRow(int files) {
    append({"FTP Links", 0, files, "50"});
}

void HostListModel::setFiles(int row, int files) {
    if (row < 0 || row >= count())
        return;
    m_rows[row].files = files;
    emit dataChanged(index(row, FilesColumn), index(row, FilesColumn));
}

void HostListModel::addFiles(int row, int more) {
    if (row >= 0 && row < count())
        setFiles(row, m_rows[row].files + more);
}
