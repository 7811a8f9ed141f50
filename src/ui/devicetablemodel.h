#pragma once

#include "devices/devicerecord.h"

#include <QAbstractTableModel>
#include <QStringList>

// Shows the controller's device list. Cells are read from the list afresh at
// every call; the model keeps only the rows it last told the view of, so that
// reloadData() (after the list was replaced or written into) tells the view of
// the rows that came, went or changed and of nothing else, keeping the view's
// selection where rows stay.
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
    DeviceList m_shown; // the rows the view was last told of
};
