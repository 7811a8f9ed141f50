#include "ui/historytablemodel.h"

#include "history/flashrecord.h"
#include "text/historytexts.h"
#include "text/uitext.h"

#include <QSqlDatabase>
#include <QSqlQuery>

HistoryTableModel::HistoryTableModel(const QString &connectionName, const QString &select, QObject *parent)
    : QSqlQueryModel(parent)
    , m_connectionName(connectionName)
    , m_select(select)
{
    reload();
}

void HistoryTableModel::reload()
{
    // Fetched as the view asks: the first rows now, the rest as they are scrolled to.
    setQuery(m_select, QSqlDatabase::database(m_connectionName, false));
}

int HistoryTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

// The query's own columns, past the five shown: read through the base
// class, which fetches the row as it is asked for.
HistoryRow HistoryTableModel::rowOf(int row) const
{
    const auto text = [&](HistoryColumn column) {
        return QSqlQueryModel::data(createIndex(row, int(column)), Qt::DisplayRole).toString();
    };
    return {text(HistoryColumn::Started), text(HistoryColumn::Manufacturer), text(HistoryColumn::Product),
            text(HistoryColumn::ImagePath), text(HistoryColumn::VersionBefore), text(HistoryColumn::VersionAfter),
            text(HistoryColumn::Result), text(HistoryColumn::LogPath)};
}

QVariant HistoryTableModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.column() >= ColumnCount)
        return {};
    const HistoryRow row = rowOf(index.row());
    switch (Column(index.column())) {
    case Time:
        return historyLocalTime(row.started);
    case Dock:
        return row.manufacturer + QLatin1Char(' ') + row.product;
    case Image:
        return historyImageName(row.imagePath);
    case Version:
        return historyVersions(row.versionBefore, row.versionAfter);
    case Result:
        return historyResultText(row.result);
    case ColumnCount:
        break;
    }
    return {};
}

QVariant HistoryTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QSqlQueryModel::headerData(section, orientation, role);
    switch (Column(section)) {
    case Time:
        return Ui::HistoryTime.text();
    case Dock:
        return Ui::HistoryDock.text();
    case Image:
        return Ui::HistoryImage.text();
    case Version:
        return Ui::HistoryVersion.text();
    case Result:
        return Ui::HistoryResult.text();
    case ColumnCount:
        break;
    }
    return {};
}

QString HistoryTableModel::rowText(int row) const
{
    return historyRowText(rowOf(row));
}

QString HistoryTableModel::logPath(int row) const
{
    return rowOf(row).logPath;
}
