#pragma once

#include "tool/firmwaretool.h"
#include "tool/tooloutput.h"
#include "tool/upgradeoutcome.h"

#include <QObject>
#include <QProcess>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

// How long a tool run may take. Zero switches a limit off.
struct ToolRunLimits {
    // From launch until the tool is asked to stop.
    std::chrono::milliseconds runLimit{0};
    // The longest the tool may go without printing anything.
    std::chrono::milliseconds silenceLimit{0};
    // From SIGTERM until SIGKILL.
    std::chrono::milliseconds killGrace{2000};
    // Once the tool has exited, how long output may still be read from a
    // process it left behind holding the pipe.
    std::chrono::milliseconds drainAfterExit{1000};
};

struct ToolRunResult {
    bool launched = false;
    QString launchError;      // why it could not be started
    int exitStatus = 0;       // the signal's number when ended by one
    ExitKind exitKind = ExitKind::Normal;
    QString text;             // the output as text; the middle of a huge one left out
    qint64 totalBytes = 0;    // all the tool printed
    qint64 bytesLeftOut = 0;  // of those, not in text
    qint64 bytesAfterExit = 0; // read once the tool had exited
    ToolLogWrite log;         // where the whole output was saved
};

// One run of the firmware tool: started with an argument vector (no shell),
// standard output and standard error merged into one stream that is read as
// it comes, saved whole to a log file while it is read, and kept in memory up
// to a bound. Lives in the thread that starts it and never blocks it: the
// run reports through finished().
class ToolRun : public QObject {
    Q_OBJECT
public:
    // A tool with a problem is not started: the run ends at once, unlaunched.
    ToolRun(const FirmwareTool &tool, const QStringList &arguments, ToolLogKind kind, ToolRunLimits limits,
            QString logDirectory = QStringLiteral("/tmp"), QObject *parent = nullptr);
    ~ToolRun() override;

    // Descriptors the tool keeps open for its whole life, such as the tool
    // lock: they outlast this program should it die before the tool.
    void setInheritedDescriptors(QList<int> descriptors) { m_inherited = std::move(descriptors); }
    // Sees every piece of output as it arrives, kept in memory or not.
    void setOutputObserver(std::function<void(QByteArrayView)> observer) { m_observer = std::move(observer); }

    void start();
    bool isFinished() const { return m_finished; }
    // Valid once finished() has been emitted.
    const ToolRunResult &result() const { return m_result; }

signals:
    // A limit was exceeded: the tool is being stopped.
    void limitExceeded();
    void finished();

private:
    void collect();
    void exited();
    void complete();
    void stopTool();
    void signalTool(int signal);

    const FirmwareTool m_tool;
    const QStringList m_arguments;
    const ToolLogKind m_kind;
    const ToolRunLimits m_limits;
    const QString m_logDirectory;
    std::function<void(QByteArrayView)> m_observer;
    QList<int> m_inherited;

    // As much as the tool's pipe holds: 1 MiB, set in the constructor.
    static constexpr qsizetype ReadPiece = 1 << 20;

    QProcess m_process;
    QTimer m_runTimer, m_silenceTimer, m_killTimer, m_drainTimer;
    BoundedOutput m_output;
    QByteArray m_readBuffer;
    std::optional<ToolLogWriter> m_log;
    ToolRunResult m_result;
    bool m_stopping = false;
    bool m_exited = false;
    bool m_channelClosed = false;
    bool m_finished = false;
};

// Logs how a finished run went, under "[Sync] " or "[Upgrade] ": why it could
// not be launched, or where its output was saved (or why not), what of the
// output was left out of memory, and its exit status; an upgrade also logs
// output read after the exit and the output's size. Returns whether it was
// launched.
bool logToolRunEnd(const ToolRunResult &result, ToolLogKind kind);
