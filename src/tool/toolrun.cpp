#include "tool/toolrun.h"

#include "core/log.h"
#include "core/printable.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

ToolRun::ToolRun(const FirmwareTool &tool, const QStringList &arguments, ToolLogKind kind, ToolRunLimits limits,
                 QString logDirectory, QObject *parent)
    : QObject(parent)
    , m_tool(tool)
    , m_arguments(arguments)
    , m_kind(kind)
    , m_limits(limits)
    , m_logDirectory(std::move(logDirectory))
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setInputChannelMode(QProcess::ForwardedInputChannel);
    for (QTimer *timer : {&m_runTimer, &m_silenceTimer, &m_killTimer, &m_drainTimer})
        timer->setSingleShot(true);

    connect(&m_process, &QProcess::started, this, [this] {
        m_result.launched = true;
        m_log.emplace(m_kind, m_logDirectory);
    });
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &ToolRun::collect);
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart && !m_result.launched) {
            m_result.launchError = m_process.errorString();
            m_finished = true;
            emit finished();
        }
    });
    // Qt reads what is buffered, closes the pipe and only then reports the
    // exit, so a child the tool left behind holding the pipe does not hold
    // the run. Should the order ever differ, the drain bound caps the wait.
    connect(&m_process, &QProcess::readChannelFinished, this, [this] {
        m_channelClosed = true;
        if (m_exited)
            complete();
    });
    connect(&m_process, &QProcess::finished, this, &ToolRun::exited);
    connect(&m_drainTimer, &QTimer::timeout, this, &ToolRun::complete);
    connect(&m_runTimer, &QTimer::timeout, this, &ToolRun::stopTool);
    connect(&m_silenceTimer, &QTimer::timeout, this, &ToolRun::stopTool);
    connect(&m_killTimer, &QTimer::timeout, this, [this] { signalTool(SIGKILL); });
}

ToolRun::~ToolRun()
{
    // Whoever drops a run before its end takes the tool with it.
    disconnect(&m_process, nullptr, this, nullptr);
}

void ToolRun::start()
{
    if (!m_tool.problem.isEmpty()) {
        m_result.launchError = m_tool.problem;
        m_finished = true;
        emit finished();
        return;
    }
    // The tool must finish a flash whatever happens to this program. A
    // session of its own keeps it out of the terminal's reach: Ctrl+C or a
    // closed terminal signals this program's group. SIGPIPE ignored (kept
    // across exec) lets it write on, unread, once this program is gone, where
    // it would otherwise be killed at its next line. The descriptors handed
    // down (the tool lock) stay open in the tool alone. A larger pipe lets a
    // talkative tool write on while this side saves what it read. All of it
    // is safe between fork and exec.
    m_process.setChildProcessModifier([inherited = m_inherited] {
        ::setsid();
        ::signal(SIGPIPE, SIG_IGN);
        for (const int fd : inherited)
            ::fcntl(fd, F_SETFD, 0);
        ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1 << 20);
    });
    m_process.start(m_tool.path, m_arguments);
    if (m_finished)
        return;
    if (m_limits.runLimit.count() > 0)
        m_runTimer.start(m_limits.runLimit);
    if (m_limits.silenceLimit.count() > 0)
        m_silenceTimer.start(m_limits.silenceLimit);
}

void ToolRun::collect()
{
    // One buffer for the run's whole life: a fresh buffer for every piece of
    // a flood costs more in page faults than the copying itself.
    if (m_readBuffer.isEmpty())
        m_readBuffer.resize(ReadPiece);
    for (;;) {
        const qint64 n = m_process.read(m_readBuffer.data(), m_readBuffer.size());
        if (n <= 0)
            return;
        const QByteArrayView chunk(m_readBuffer.constData(), n);
        if (m_exited)
            m_result.bytesAfterExit += n;
        else if (m_silenceTimer.isActive())
            m_silenceTimer.start();
        if (m_log)
            m_log->append(chunk);
        m_output.append(chunk);
        if (m_observer)
            m_observer(chunk);
    }
}

void ToolRun::stopTool()
{
    m_runTimer.stop();
    m_silenceTimer.stop();
    m_stopping = true;
    emit limitExceeded();
    signalTool(SIGTERM);
    m_killTimer.start(m_limits.killGrace);
}

// The tool leads a process group of its own (see the constructor): the
// signal reaches whatever it started too.
void ToolRun::signalTool(int signal)
{
    const qint64 pid = m_process.processId();
    if (pid > 0) // never 0: that would be this program's own group
        ::kill(-pid_t(pid), signal);
}

void ToolRun::exited()
{
    m_exited = true;
    m_runTimer.stop();
    m_silenceTimer.stop();
    m_killTimer.stop();
    m_result.exitStatus = m_process.exitCode();
    m_result.exitKind = m_stopping                                       ? ExitKind::Stopped
                        : m_process.exitStatus() == QProcess::CrashExit ? ExitKind::Signal
                                                                        : ExitKind::Normal;
    collect();
    if (m_channelClosed)
        complete();
    else
        m_drainTimer.start(m_limits.drainAfterExit);
}

void ToolRun::complete()
{
    if (m_finished)
        return;
    m_drainTimer.stop();
    collect();
    m_finished = true;
    m_result.totalBytes = m_output.received();
    m_result.bytesLeftOut = m_result.totalBytes - m_output.keptSize();
    // The log saw every byte, so it knows the whole output's encoding; the
    // kept bytes are only looked at when there is no log.
    const OutputEncoding encoding = m_log ? m_log->encoding() : encodingOf(m_output.bytes());
    if (m_log) {
        m_result.log = m_log->finish();
        m_log.reset();
    }
    m_result.text = m_output.text(encoding);
    // The text is all that is used from here on; its bytes go before whoever
    // gets the result makes copies of its own.
    m_output = BoundedOutput();
    m_readBuffer = QByteArray();
    emit finished();
}

bool logToolRunEnd(const ToolRunResult &result, ToolLogKind kind)
{
    const bool upgrade = kind == ToolLogKind::Upgrade;
    const QString tag = upgrade ? QStringLiteral("[Upgrade] ") : QStringLiteral("[Sync] ");
    if (!result.launched) {
        logLine(tag + QStringLiteral("Failed to launch: ") + withoutControlCharacters(result.launchError));
        return false;
    }
    if (upgrade && result.bytesAfterExit > 0)
        logLine(tag + QStringLiteral("Read %1 remaining bytes from pipe").arg(result.bytesAfterExit));
    if (result.log.ok)
        logLine(tag + QStringLiteral("Output saved to: ") + result.log.path);
    else
        logLine(tag + QStringLiteral("Failed to write tmp: ") + result.log.error);
    // The query's version search is what the cut concerns; the upgrade's cut
    // concerns the output it logs next, so the line goes just above it.
    const QString leftOut = result.bytesLeftOut <= 0 ? QString()
        : tag + QStringLiteral("Output too large to keep whole in memory: %1 bytes from its middle were left out of the ")
                  .arg(result.bytesLeftOut)
            + (upgrade ? QStringLiteral("output below") : QStringLiteral("version search"))
            + QStringLiteral("; the saved log file has them");
    if (!upgrade && !leftOut.isEmpty())
        logLine(leftOut);
    logLine(tag + QStringLiteral("Tool exited with status: %1").arg(result.exitStatus));
    if (upgrade) {
        logLine(tag + QStringLiteral("Total output size: %1 bytes").arg(result.totalBytes));
        if (!leftOut.isEmpty())
            logLine(leftOut);
    }
    return true;
}
