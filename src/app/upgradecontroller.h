#pragma once

#include "devices/devicelist.h"
#include "flash/flashjob.h"
#include "history/flashrecord.h"
#include "tool/toollock.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <optional>

class MainWindow;
class UpgradeProgressWindow;

// One firmware upgrade from the user's request to the result alert: the file
// dialog, the image check, the confirmation, the progress window, the
// FlashJob that carries the upgrade through, and the alert. While a run goes
// on, a quit waits for its end. Also tells the user of upgrades on record
// that the program did not see end.
class UpgradeController : public QObject {
    Q_OBJECT
public:
    UpgradeController(QString settingsPath, FlashSetup setup, QObject *parent = nullptr);
    ~UpgradeController() override;

    // The window the file dialog belongs to; it gets the keyboard back after an alert.
    void setMainWindow(MainWindow *window) { m_window = window; }

    // Asks for an image for this dock, then for confirmation, then flashes it.
    void upgradeFirmware(const DeviceRecord &dock);
    // The confirmed hand-off: flashes the image on the dock chosen last, if
    // it is still connected, alone.
    void performFirmwareUpgradeWithFilePath(const QString &filePath);
    // From the hand-off of an upgrade until its end is reported.
    bool upgradeInProgress() const { return m_job != nullptr; }
    // Whether a version query may run the tool now, no upgrade running here
    // or in another copy of the program; if so, holds the tool for it (no
    // copy starts an upgrade) until releaseToolAfterQuery(). When not, the
    // reason is logged once.
    bool holdToolForQuery();
    void releaseToolAfterQuery() { m_queryLock.release(); }
    // The query's hold on the tool, handed down to the tool it runs.
    int queryLockDescriptor() const { return m_queryLock.descriptor(); }
    UpgradeProgressWindow *currentProgressWindow() const { return progressWindow.get(); }

    // A version query has ended, with the version the dock reports (empty
    // when none was read): it goes on the record of the upgrade just ended,
    // and into the report of upgrades cut short.
    void versionRead(const QString &version);
    // Upgrades on record that the program did not see end, their tool gone:
    // the user is told once the dock's version is read (at once when no dock
    // is listed to read it from).
    void reportInterrupted(const QList<FlashRecord> &rows, const DeviceList &docks);

signals:
    // The tool has exited and its log is written; the alert follows.
    void upgradeEnded();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void confirmUpgrade(const QString &filePath);
    // Whether the chosen dock is listed, alone; if not, says why (nothing
    // when it is gone: the flow just ends).
    bool chosenDockListedAlone();
    void runEnded();
    void tellInterrupted(const QString &version);
    void closeProgressWindow();
    // With details, a "Show Details" part; with a log that exists, "Open Log".
    void runAlert(const QString &headline, const QString &text, const QString &details = {}, const QString &log = {});
    void giveBackKeyboard();

    const QString m_settingsPath;
    const FlashSetup m_setup;
    QPointer<MainWindow> m_window;
    DeviceRecord m_dock; // the dock the user picked, as listed then
    std::unique_ptr<UpgradeProgressWindow> progressWindow;
    std::unique_ptr<FlashJob> m_job;
    ToolLock m_queryLock; // shared, while a version query runs
    QString m_queryWait;  // why the version query waits, as logged
    std::optional<qint64> m_versionAfterFor; // the record the next version read completes
    QList<FlashRecord> m_interrupted;        // told of once the version is read
    bool m_quitAfterUpgrade = false;
};
