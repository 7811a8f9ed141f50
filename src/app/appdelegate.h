#pragma once

#include "app/mytableview.h"
#include "devices/devicerecord.h"
#include "devices/usbdevicesource.h"
#include "tool/firmwaretool.h"
#include "tool/upgradeoutcome.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class DeviceTableModel;
class QLineEdit;
class QMainWindow;
class QTimer;
class UpgradeProgressWindow;
class SleepInhibitor;
class UpgradeRun;

// The one controller: it builds the main window, keeps the device list current
// and answers the table. The state below is the program's shared state and is
// only touched on the main thread.
class AppDelegate : public QObject, public TableMenuDelegate {
    Q_OBJECT
public:
    // Runs the firmware tool at a path and returns the version it reports.
    using VersionQuery = std::function<std::optional<QString>(const FirmwareTool &tool)>;

    // An empty query runs the real one.
    explicit AppDelegate(std::unique_ptr<UsbDeviceSource> usbSource,
                         ToolDirectories toolDirectories = ToolDirectories::forRunningProgram(),
                         VersionQuery versionQuery = {}, QObject *parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    void scanUSBDevices();
    void startUSBMonitoring();
    void stopUSBMonitoring();

    std::optional<QString> queryFirmwareVersionSync();

    void openPreferences();
    void savePreferences();

    QMenu *tableViewMenuForEvent(MyTableView *table, const QPoint &globalPos) override;
    void copyDeviceInfo();
    void upgradeFirmware();
    void performFirmwareUpgradeWithFilePath(const QString &filePath);
    // From the hand-off of an upgrade until its end is reported.
    bool upgradeInProgress() const { return m_upgrade != nullptr; }

    // The end of an upgrade: the progress window goes, an alert tells the result.
    void reportUpgradeResult(const UpgradeOutcome &outcome);
    void reportLaunchFailure(const QString &error);

    std::unique_ptr<QMainWindow> window;
    MyTableView *tableView = nullptr; // owned by window
    DeviceList data;
    std::unique_ptr<QTimer> usbMonitorTimer;
    qint64 selectedRow = 0;
    bool fwQueried = false;
    std::unique_ptr<UpgradeProgressWindow> progressWindow;
    std::unique_ptr<QWidget> preferencesWindow;
    QPointer<QLineEdit> timeoutField;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void confirmUpgrade(const QString &filePath);
    void upgradeEnded();
    void buildMainWindow();
    void buildMenuBar();
    void monitorTick();
    void runVersionStep(const DeviceList &scanned);
    void closeProgressWindow();
    void runAlert(const QString &headline, const QString &text);

    std::unique_ptr<UsbDeviceSource> m_usbSource;
    const ToolDirectories m_toolDirectories;
    const VersionQuery m_versionQuery;
    DeviceTableModel *m_model = nullptr; // owned by tableView
    bool m_scanQueued = false;
    std::unique_ptr<UpgradeRun> m_upgrade;
    SleepInhibitor *m_sleepInhibitor = nullptr; // child of this
    bool m_quitAfterUpgrade = false;
};
