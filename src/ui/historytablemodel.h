#pragma once

#include "text/historytexts.h"

#include <QSqlQueryModel>

// The upgrade history as the History window shows it, newest first: time
// (local), dock, image file name, version before → after, result. Rows come
// from the database as they are scrolled into view.
class HistoryTableModel : public QSqlQueryModel {
    Q_OBJECT
public:
    enum Column { Time, Dock, Image, Version, Result, ColumnCount };

    // The store's connection and its SELECT of the window's columns.
    HistoryTableModel(const QString &connectionName, const QString &select, QObject *parent = nullptr);

    // Reads the rows again, from the first.
    void reload();
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The row as text lines for the clipboard, in English like the device info.
    QString rowText(int row) const;
    QString logPath(int row) const;

private:
    HistoryRow rowOf(int row) const;

    QString m_connectionName;
    QString m_select;
};
