#pragma once

#include "devices/devicerecord.h"

#include <QAbstractTableModel>
#include <QStringList>

// Shows the controller's device list. It reads the list afresh at every call
// and keeps no copy; reloadData() tells the view that the list was replaced
// or written into, keeping the view's selection where rows stay.
class DeviceTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    DeviceTableModel(const DeviceList &rows, const QStringList &headers, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    void reloadData();

private:
    const DeviceList &m_rows;
    const QStringList m_headers;
    int m_shownRows = 0; // the row count the view was last told of
};
