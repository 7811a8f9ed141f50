#pragma once

#include "devices/devicemonitor.h"
#include "tool/firmwaretool.h"

#include <QObject>

#include <memory>
#include <optional>

// The files the program shares with later runs and other copies of itself:
// its settings, the lock that keeps copies from using the tool at once (null:
// the machine's own) and the upgrade history (null: the user's own).
struct AppFiles {
    QString settings;
    QString toolLock;
    QString history;
};

class HistoryStore;
class HistoryWindow;
class InterruptedFlashes;
class AboutWindow;
class FirmwareToolWatch;
class MainWindow;
class PreferencesWindow;
class UpgradeController;

// Makes the program's parts and wires them: the device monitor keeps the
// list, the main window shows it and reports what the user asks for, the
// upgrade controller carries an upgrade through, the preferences window
// edits the one setting. Everything lives on the main thread.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    // An empty query runs the real one, with the tool found in `tools`.
    AppDelegate(std::unique_ptr<UsbDeviceSource> usbSource, AppFiles files,
                ToolDirectories tools = ToolDirectories::forRunningProgram(),
                DeviceMonitor::VersionQuery versionQuery = {}, QObject *parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    void openAbout();
    void openPreferences();
    void openHistory();
    void copyDeviceInfo();
    void upgradeFirmware();

    DeviceMonitor &monitor() { return *m_monitor; }
    UpgradeController &upgrades() { return *m_upgrades; }
    MainWindow *mainWindow() const { return window.get(); }
    PreferencesWindow *preferences() const { return preferencesWindow.get(); }
    HistoryWindow *history() const { return m_historyWindow.get(); }
    HistoryStore &historyStore() { return *m_history; }
    AboutWindow *about() const { return m_about.get(); }

private:
    // The record of the row whose menu was opened last, if that row still exists.
    std::optional<DeviceRecord> selectedRecord() const;
    void savePreferences(int seconds);
    // To the main window's table, once a window of the program has closed.
    void giveBackKeyboard();

    const QString m_settingsPath;
    std::unique_ptr<HistoryStore> m_history;
    const ToolDirectories m_tools;
    std::unique_ptr<DeviceMonitor> m_monitor;
    std::unique_ptr<UpgradeController> m_upgrades;
    std::unique_ptr<InterruptedFlashes> m_interrupted;
    std::unique_ptr<FirmwareToolWatch> m_toolWatch;
    std::unique_ptr<HistoryWindow> m_historyWindow;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<PreferencesWindow> preferencesWindow;
    std::unique_ptr<AboutWindow> m_about;
};
