#pragma once

#include "devices/devicelist.h"
#include "history/flashrecord.h"
#include "flash/sleepinhibitor.h"
#include "tool/firmwaretool.h"
#include "tool/toollock.h"
#include "tool/upgraderun.h"

#include <QDir>
#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class HistoryStore;

// Where the docks are known from: the list as the window shows it, and a
// fresh look at the USB devices.
struct DockLookup {
    std::function<DeviceList()> listed;
    std::function<DeviceList()> lookAgain;
};

// What stays the same from one upgrade to the next.
struct FlashSetup {
    ToolDirectories tools;
    DockLookup docks;
    QString lockPath;   // the machine's tool lock (ToolLock::defaultPath()) or a test's own
    QString imageDirectory = QDir::tempPath(); // where the image's private copy goes
    QString logDirectory = QStringLiteral("/tmp");
    HistoryStore *history = nullptr; // none: nothing is recorded
};

// How an upgrade ended, for whoever started it to tell the user.
struct FlashOutcome {
    enum class Kind {
        Ran,          // the tool ran to its end: report.verdict says how
        NotLaunched,  // the tool could not be started: report.launchError
        ImageRefused, // the image could not be copied for the tool: report.image
        DockGone,     // the dock picked is no longer connected: the flow ends without a word
        NotAlone,     // more than one dock is connected
        LockBusy,     // another process uses the tool: lockHolder, when known
        LockFailed,   // the tool lock cannot be taken at all: lockError
    };
    Kind kind = Kind::DockGone;
    UpgradeReport report;
    QString lockHolder, lockError;
    // What the user is told, in their language: nothing for DockGone. The
    // details say why: the tool's lines that matter, its exit, its log, or
    // where the tool was looked for.
    bool success = false;
    QString headline, message, details;
    std::optional<qint64> historyId; // the attempt's row, where one was written
};

// What an outcome goes on record as: a refusal before the tool, a tool that
// could not start, or the run's verdict.
FlashResult flashResultOf(const FlashOutcome &outcome);

// One firmware upgrade past the user's confirmation, without any window, for
// the window program and the command line alike: a fresh look at the docks
// (the one picked must be connected, alone), the machine-wide tool lock, the
// image's private copy, the sleep lock (waited for 2 s at most), the record
// of the attempt, the tool, and a last look at the docks right before it.
// Every attempt is recorded in the history; the "running" row is committed
// before the tool starts and completed before the lock is given back, so a
// running row whose lock is free is a flash nobody saw end.
class FlashJob : public QObject {
    Q_OBJECT
public:
    FlashJob(const FlashSetup &setup, const DeviceRecord &dock, const QString &imagePath,
             std::chrono::seconds silenceLimit, QObject *parent = nullptr);
    ~FlashJob() override;

    // Starts the upgrade. false when it ended at once (the dock gone or not
    // alone, the lock refused): outcome() says why, and finished() does not
    // follow.
    bool start();
    bool isFinished() const { return m_finished; }
    const FlashOutcome &outcome() const { return m_outcome; }

signals:
    // The tool is about to start on the image's copy.
    void toolStarting();
    // Valid outcome(); the locks are given back.
    void finished();

private:
    void launchWhenReady();
    void runEnded();
    void end(FlashOutcome::Kind kind);
    void record();

    const FlashSetup m_setup;
    const DeviceRecord m_dock;
    const QString m_imagePath;
    const std::chrono::seconds m_silenceLimit;
    ToolLock m_lock;
    SleepInhibitor m_sleep;
    std::unique_ptr<UpgradeRun> m_run;
    FlashOutcome m_outcome;
    bool m_imageReady = false;
    bool m_toolStarted = false; // launched or abandoned
    bool m_finished = false;
};
