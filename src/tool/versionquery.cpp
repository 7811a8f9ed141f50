#include "tool/versionquery.h"

#include "app/log.h"
#include "tool/firmwaretool.h"
#include "tool/tooloutput.h"
#include "tool/versionparse.h"

#include <QEventLoop>
#include <QProcess>
#include <QTimer>

QString runLimitLogLine(std::chrono::milliseconds runLimit)
{
    // Tests shorten the bound below a second; the line must still be true.
    const double seconds = double(runLimit.count()) / 1000.0;
    return QStringLiteral("[Sync] Firmware tool did not finish within ") + QString::number(seconds)
        + (seconds == 1.0 ? QStringLiteral(" second") : QStringLiteral(" seconds")) + QStringLiteral("; stopped it");
}

std::optional<QString> queryFirmwareVersionSync(const QString &toolPath, const QueryBounds &bounds)
{
    logLine(QStringLiteral("[Sync] Launching firmware tool at: ") + toolPath);

    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);

    BoundedOutput output;
    QEventLoop loop;
    bool failedToStart = false;
    bool exited = false;
    bool channelClosed = false;
    bool drainExpired = false;

    QTimer runTimer;
    runTimer.setSingleShot(true);
    QTimer killTimer;
    killTimer.setSingleShot(true);
    QTimer drainTimer;
    drainTimer.setSingleShot(true);

    QObject::connect(&process, &QProcess::readyReadStandardOutput, &loop,
                     [&] { output.append(process.readAllStandardOutput()); });
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            failedToStart = true;
            loop.quit();
        }
    });
    // Qt 6.4 reads what is buffered, closes the pipe and only then reports the
    // exit, so a child the tool left behind holding the pipe does not hold us.
    // Should the order ever differ, the drain bound caps the wait.
    QObject::connect(&process, &QProcess::readChannelFinished, &loop, [&] {
        channelClosed = true;
        if (exited)
            loop.quit();
    });
    QObject::connect(&process, &QProcess::finished, &loop, [&] {
        exited = true;
        runTimer.stop();
        killTimer.stop();
        output.append(process.readAllStandardOutput());
        if (channelClosed)
            loop.quit();
        else
            drainTimer.start(bounds.drainAfterExit);
    });
    QObject::connect(&drainTimer, &QTimer::timeout, &loop, [&] {
        drainExpired = true;
        loop.quit();
    });
    QObject::connect(&runTimer, &QTimer::timeout, &loop, [&] {
        logLine(runLimitLogLine(bounds.runLimit));
        process.terminate();
        killTimer.start(bounds.killGrace);
    });
    QObject::connect(&killTimer, &QTimer::timeout, &loop, [&] { process.kill(); });

    process.start(programForLaunch(toolPath), versionQueryArguments());
    runTimer.start(bounds.runLimit);
    // Input stays out so the user cannot start a second query or an upgrade
    // from inside this one.
    const auto waiting = [&] { return !failedToStart && !(exited && (channelClosed || drainExpired)); };
    if (waiting())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    // An app-wide quit ends the loop early and makes exec() return at once
    // from then on; events must still be served or the tool is never reaped.
    while (waiting())
        loop.processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
    runTimer.stop();
    killTimer.stop();
    drainTimer.stop();
    output.append(process.readAllStandardOutput());

    if (failedToStart) {
        logLine(QStringLiteral("[Sync] Failed to launch: ") + process.errorString());
        return std::nullopt;
    }

    const QString text = decodeToolOutput(output.bytes());

    const ToolLogWrite saved = writeToolLog(ToolLogKind::Sync, text);
    if (saved.ok)
        logLine(QStringLiteral("[Sync] Output saved to: ") + saved.path);
    else
        logLine(QStringLiteral("[Sync] Failed to write tmp: ") + saved.error);

    logLine(QStringLiteral("[Sync] Tool exited with status: ") + QString::number(process.exitCode()));

    std::optional<QString> version = extractFirmwareVersion(text);
    if (version)
        logLine(QStringLiteral("[Sync] Found firmware version: ") + *version);
    else
        logLine(QStringLiteral("[Sync] Version not found. Output:\n") + text);
    return version;
}
