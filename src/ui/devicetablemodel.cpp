#include "ui/devicetablemodel.h"

#include <algorithm>

DeviceTableModel::DeviceTableModel(const DeviceList &rows, const QStringList &headers, QObject *parent)
    : QAbstractTableModel(parent), m_rows(rows), m_headers(headers), m_shown(rows)
{
}

int DeviceTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_shown.size());
}

int DeviceTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : DeviceColumnCount;
}

QVariant DeviceTableModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() < 0 || index.row() >= m_rows.size()
        || index.column() < 0 || index.column() >= DeviceColumnCount)
        return {};
    return recordValue(m_rows.at(index.row()), DeviceColumn(index.column()));
}

QVariant DeviceTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= m_headers.size())
        return {};
    return m_headers.at(section);
}

Qt::ItemFlags DeviceTableModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void DeviceTableModel::reloadData()
{
    const DeviceList before = m_shown;
    const qsizetype count = m_rows.size();
    if (count > before.size()) {
        beginInsertRows({}, int(before.size()), int(count - 1));
        m_shown = m_rows;
        endInsertRows();
    } else if (count < before.size()) {
        beginRemoveRows({}, int(count), int(before.size() - 1));
        m_shown = m_rows;
        endRemoveRows();
    } else {
        m_shown = m_rows;
    }
    // A rescan usually finds what is on screen already: redraw only the rows
    // whose values changed.
    for (qsizetype row = 0; row < std::min(count, before.size()); ++row) {
        if (m_rows.at(row) != before.at(row))
            emit dataChanged(index(int(row), 0), index(int(row), DeviceColumnCount - 1), {Qt::DisplayRole});
    }
}
