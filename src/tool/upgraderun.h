#pragma once

#include "tool/firmwaretool.h"
#include "tool/upgradeoutcome.h"

#include <QObject>
#include <QThread>

#include <chrono>

// How one upgrade run ended.
struct UpgradeReport {
    bool launched = false;
    QString launchError; // why the tool could not be started
    UpgradeVerdict verdict = UpgradeVerdict::Failed; // once launched
};

// The verdict's message in the user's language, for the run's log; called in
// the worker thread.
using VerdictMessage = QString (*)(UpgradeVerdict);

// One firmware upgrade: runs the tool on an image in a worker thread of its
// own, collects and saves what it prints, logs the run and judges it. The
// thread that starts it never waits for the tool, the pipe or the log file;
// finished() comes back to that thread once the tool has exited and its log
// is written.
//
// A run never kills the tool unless it has gone silent for longer than the
// timeout: a flash cut short can leave the dock without working firmware.
class UpgradeRun : public QObject {
    Q_OBJECT
public:
    // silenceLimit: the longest the tool may go without printing; 0 (or
    // less, or more than a timer holds: weeks) for no limit.
    UpgradeRun(const FirmwareTool &tool, const QString &imagePath, std::chrono::seconds silenceLimit,
               VerdictMessage verdictMessage, const QString &logDirectory = QStringLiteral("/tmp"), QObject *parent = nullptr);
    // Waits for the worker, which has nothing left to do once finished() came.
    ~UpgradeRun() override;

    void start();
    bool isFinished() const { return m_finished; }
    const UpgradeReport &report() const { return m_report; }

signals:
    void finished();

private:
    QThread m_thread;
    UpgradeReport m_report;
    bool m_finished = false;
    const FirmwareTool m_tool;
    const QString m_imagePath, m_logDirectory;
    const std::chrono::seconds m_silenceLimit;
    const VerdictMessage m_verdictMessage;
};

// "[Upgrade] No output from firmware tool for 30 seconds; stopping it"
QString silenceLogLine(std::chrono::seconds silenceLimit);
