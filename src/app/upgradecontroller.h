#pragma once

#include "devices/devicelist.h"
#include "tool/firmwaretool.h"
#include "tool/toollock.h"

#include <QDir>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class SleepInhibitor;
class UpgradeProgressWindow;
class UpgradeRun;

// Where the docks are known from: the list as the table shows it, and a
// fresh look at the USB devices.
struct DockLookup {
    std::function<DeviceList()> listed;
    std::function<DeviceList()> lookAgain;
};

// One firmware upgrade from the user's request to the result alert: the file
// dialog, the checks of the image and of the docks, the confirmation, the
// progress window, the run, and the locks around it. While a run goes on, a
// quit waits for its end.
class UpgradeController : public QObject {
    Q_OBJECT
public:
    // `lockPath`: the lock file that keeps copies of the program from using
    // the tool at once (a test's own; ToolLock::defaultPath() for the
    // machine's). The image's private copy goes under `imageDirectory`.
    UpgradeController(QString settingsPath, ToolDirectories tools, DockLookup docks, const QString &lockPath,
                      QString imageDirectory = QDir::tempPath(), QObject *parent = nullptr);
    ~UpgradeController() override;

    // The window the file dialog belongs to; it gets the keyboard back after an alert.
    void setMainWindow(QWidget *window) { m_window = window; }

    // Asks for an image for this dock, then for confirmation, then flashes it.
    void upgradeFirmware(const DeviceRecord &dock);
    // The confirmed hand-off: flashes the image on the dock chosen last, if
    // it is still connected, alone.
    void performFirmwareUpgradeWithFilePath(const QString &filePath);
    // From the hand-off of an upgrade until its end is reported.
    bool upgradeInProgress() const { return m_upgrade != nullptr; }
    // Whether a version query may run the tool now, no upgrade running here
    // or in another copy of the program; if so, holds the tool for it (no
    // copy starts an upgrade) until releaseToolAfterQuery(). When not, the
    // reason is logged once.
    bool holdToolForQuery();
    void releaseToolAfterQuery() { m_queryLock.release(); }
    // The query's hold on the tool, handed down to the tool it runs.
    int queryLockDescriptor() const { return m_queryLock.descriptor(); }
    UpgradeProgressWindow *currentProgressWindow() const { return progressWindow.get(); }

signals:
    // The tool has exited and its log is written; the alert follows.
    void upgradeEnded();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void confirmUpgrade(const QString &filePath);
    // Whether the chosen dock is among these docks, alone; if not, says why
    // (nothing when it is gone: the flow just ends).
    bool chosenDockAlone(const DeviceList &docks);
    void launchWhenReady();
    void runEnded();
    void closeProgressWindow();
    void runAlert(const QString &headline, const QString &text);
    void giveBackKeyboard();

    const QString m_settingsPath;
    const ToolDirectories m_tools;
    const DockLookup m_docks;
    const QString m_imageDirectory;
    QPointer<QWidget> m_window;
    DeviceRecord m_dock; // the dock the user picked, as listed then
    QString m_imagePath;
    std::unique_ptr<UpgradeProgressWindow> progressWindow;
    std::unique_ptr<UpgradeRun> m_upgrade;
    bool m_imageReady = false; // the run's copy of the image is made
    bool m_toolStarted = false; // launched or abandoned
    bool m_tooManyDocks = false; // why a run was abandoned
    SleepInhibitor *m_sleepInhibitor; // child of this
    ToolLock m_toolLock; // held alone for the whole run
    ToolLock m_queryLock; // shared, while a version query runs
    QString m_queryWait; // why the version query waits, as logged
    bool m_quitAfterUpgrade = false;
};
