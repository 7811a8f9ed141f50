#pragma once

#include "devices/devicerecord.h"
#include "ui/mytableview.h"

#include <QMainWindow>

#include <functional>

class DeviceTableModel;
class QLabel;

// The main window: the dock table, which shows the list it is given and
// offers each row's menu, and the menu bar. It reports what the user asked
// for; the caller decides what follows.
class MainWindow : public QMainWindow, public TableMenuDelegate {
    Q_OBJECT
public:
    // The table reads `devices` at every call; reloadData() after it changed.
    explicit MainWindow(const DeviceList &devices);

    MyTableView *table() const { return tableView; }
    // Brings the window to the front with the keyboard in the table, unless
    // the user closed it.
    void takeKeyboard();
    void reloadData();
    // The row whose menu was opened last, -1 before any.
    qint64 menuRow() const { return selectedRow; }
    // Asked as a row's menu opens: whether "Upgrade Firmware" may be chosen.
    void setUpgradeAllowed(std::function<bool()> allowed) { m_upgradeAllowed = std::move(allowed); }
    // What keeps any upgrade from running (the firmware tool missing), said
    // under the table and on "Upgrade Firmware"; empty when nothing does.
    void setToolProblem(const QString &problem);

    QMenu *tableViewMenuForEvent(MyTableView *table, const QPoint &globalPos) override;

signals:
    void aboutRequested();
    void preferencesRequested();
    void historyRequested();
    void copyRequested();
    void readVersionRequested();
    void upgradeRequested();
    void closeRequested();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildTable();
    void buildMenuBar();

    const DeviceList &m_devices;
    MyTableView *tableView = nullptr;
    DeviceTableModel *m_model = nullptr;
    qint64 selectedRow = -1;
    QLabel *m_toolProblem = nullptr;
    std::function<bool()> m_upgradeAllowed;
};
