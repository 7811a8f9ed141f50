#include "app/devicetablemodel.h"

DeviceTableModel::DeviceTableModel(const DeviceList &rows, const QStringList &headers, QObject *parent)
    : QAbstractTableModel(parent), m_rows(rows), m_headers(headers), m_shownRows(int(rows.size()))
{
}

int DeviceTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_shownRows;
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
    const int count = int(m_rows.size());
    if (count > m_shownRows) {
        beginInsertRows({}, m_shownRows, count - 1);
        m_shownRows = count;
        endInsertRows();
    } else if (count < m_shownRows) {
        beginRemoveRows({}, count, m_shownRows - 1);
        m_shownRows = count;
        endRemoveRows();
    }
    if (count > 0)
        emit dataChanged(index(0, 0), index(count - 1, DeviceColumnCount - 1), {Qt::DisplayRole});
}
