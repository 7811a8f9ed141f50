#pragma once

#include "app/mytableview.h"
#include "devices/devicerecord.h"
#include "devices/usbdevicesource.h"

#include <QObject>
#include <QPointer>

#include <memory>

class DeviceTableModel;
class QLineEdit;
class QMainWindow;
class QTimer;
class UpgradeProgressWindow;

// The one controller: it builds the main window, keeps the device list current
// and answers the table. The state below is the program's shared state and is
// only touched on the main thread.
class AppDelegate : public QObject, public TableMenuDelegate {
    Q_OBJECT
public:
    explicit AppDelegate(std::unique_ptr<UsbDeviceSource> usbSource, QObject *parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    void scanUSBDevices();
    void startUSBMonitoring();
    void stopUSBMonitoring();

    void openPreferences();

    QMenu *tableViewMenuForEvent(MyTableView *table, const QPoint &globalPos) override;

    std::unique_ptr<QMainWindow> window;
    MyTableView *tableView = nullptr; // owned by window
    DeviceList data;
    std::unique_ptr<QTimer> usbMonitorTimer;
    qint64 selectedRow = 0;
    bool fwQueried = false;
    std::unique_ptr<UpgradeProgressWindow> progressWindow;
    std::unique_ptr<QWidget> preferencesWindow;
    QPointer<QLineEdit> timeoutField;

private:
    void buildMainWindow();
    void buildMenuBar();
    void monitorTick();
    void runVersionStep(const DeviceList &scanned);

    std::unique_ptr<UsbDeviceSource> m_usbSource;
    DeviceTableModel *m_model = nullptr; // owned by tableView
};
