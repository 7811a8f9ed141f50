#pragma once

#include "cli/cliargs.h"
#include "cli/clioutput.h"
#include "devices/devicemonitor.h"
#include "tool/firmwaretool.h"
#include "tool/toollock.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

class FlashJob;
class HistoryStore;
class QSocketNotifier;

// Where quorvale-cli finds what it uses, and what it writes to: the window
// program's own files and tool, or a test's.
struct CliEnvironment {
    ToolDirectories tools;
    QString settingsPath;
    QString historyPath;
    QString lockPath;
    std::function<std::unique_ptr<UsbDeviceSource>()> usbSource;
    // Whether the confirmation can be asked (standard input is a terminal),
    // and whether the status line can be rewritten in place (its stream is one).
    bool askable = false;
    bool statusOnTerminal = false;
    std::chrono::milliseconds tickInterval{1000}; // wait: the scan's tick beside udev's events
    std::function<void(const QByteArray &)> out; // standard output
    std::function<void(const QByteArray &)> err; // standard error
    // Where the question and the flash's status line go: standard output,
    // or standard error when standard output holds a JSON document.
    std::function<void(const QByteArray &)> status;
    int inputFd = 0; // where the answer to the question is read
};

// One run of a command of quorvale-cli, on the main thread's event loop:
// finished() tells the exit status once the command has said all it says.
// The main thread never waits without a bound: the question's answer and
// the flash come as events.
class CliSession : public QObject {
    Q_OBJECT
public:
    CliSession(CliRequest request, CliEnvironment environment, QObject *parent = nullptr);
    ~CliSession() override;

    void start();
    // SIGINT, SIGTERM or SIGHUP: ends the command, except a flash, which it
    // never cuts: the program stops once the flash has ended.
    void signalReceived(int number);
    bool isFinished() const { return m_finished; }

signals:
    void finished(int exitStatus);

private:
    void makeMonitor();
    bool holdToolForQuery();
    void list();
    void history();
    void wait();
    void waitEnded(bool timedOut);
    void upgrade();
    void askConfirmation();
    void answerRead();
    void flash();
    void showStatus();
    void flashEnded();
    void endUpgrade(UpgradeSummary summary);
    void finish(ExitStatus status);
    void write(const QString &text);
    void writeJson(const QJsonObject &object);

    const CliRequest m_request;
    const CliEnvironment m_env;
    std::unique_ptr<DeviceMonitor> m_monitor;
    std::unique_ptr<HistoryStore> m_history;
    ToolLock m_queryLock;
    bool m_queryRunning = false;
    bool m_queryRefused = false;
    QString m_versionRead;
    // upgrade
    DeviceRecord m_dock;
    QString m_imagePath;
    int m_silenceLimit = 0;
    std::unique_ptr<QSocketNotifier> m_input;
    QByteArray m_answer;
    std::unique_ptr<FlashJob> m_job;
    QDateTime m_started;
    QElapsedTimer m_elapsed;
    QTimer m_statusTimer;
    qint64 m_statusShown = -1;
    bool m_quitAfterFlash = false;
    bool m_quitAfterQuery = false;
    QTimer m_waitTimeout;
    bool m_finished = false;
};
