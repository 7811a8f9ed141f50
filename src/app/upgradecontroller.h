#pragma once

#include "devices/devicerecord.h"
#include "tool/firmwaretool.h"
#include "tool/toollock.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class SleepInhibitor;
class UpgradeProgressWindow;
class UpgradeRun;

// One firmware upgrade from the user's request to the result alert: the file
// dialog, the confirmation, the progress window, the run, and the sleep lock
// around it. While a run goes on, a quit waits for its end.
class UpgradeController : public QObject {
    Q_OBJECT
public:
    // The dock at a sysfs path as the device list holds it now.
    using FindDevice = std::function<std::optional<DeviceRecord>(const QString &syspath)>;

    // `lockPath`: the lock file that keeps copies of the program from using
    // the tool at once; empty for the user's runtime folder.
    UpgradeController(QString settingsPath, ToolDirectories tools, FindDevice findDevice, QString lockPath = {},
                      QObject *parent = nullptr);
    ~UpgradeController() override;

    // The window the file dialog belongs to; it gets the keyboard back after an alert.
    void setMainWindow(QWidget *window) { m_window = window; }

    // Asks for an image for this dock, then for confirmation, then flashes it.
    void upgradeFirmware(const QString &syspath);
    void performFirmwareUpgradeWithFilePath(const QString &filePath);
    // From the hand-off of an upgrade until its end is reported.
    bool upgradeInProgress() const { return m_upgrade != nullptr; }
    // Whether a version query may run the tool now, no upgrade running here
    // or in another copy of the program; if so, holds the tool for it (no
    // copy starts an upgrade) until releaseToolAfterQuery().
    bool holdToolForQuery();
    void releaseToolAfterQuery() { m_queryLock.release(); }
    UpgradeProgressWindow *currentProgressWindow() const { return progressWindow.get(); }

signals:
    // The tool has exited and its log is written; the alert follows.
    void upgradeEnded();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void confirmUpgrade(const QString &filePath);
    void runEnded();
    void closeProgressWindow();
    void runAlert(const QString &headline, const QString &text);

    const QString m_settingsPath;
    const ToolDirectories m_tools;
    const FindDevice m_findDevice;
    QPointer<QWidget> m_window;
    QString m_device; // sysfs path of the dock the user picked
    std::unique_ptr<UpgradeProgressWindow> progressWindow;
    std::unique_ptr<UpgradeRun> m_upgrade;
    SleepInhibitor *m_sleepInhibitor; // child of this
    ToolLock m_toolLock; // held alone for the whole run
    ToolLock m_queryLock; // shared, while a version query runs
    bool m_quitAfterUpgrade = false;
};
