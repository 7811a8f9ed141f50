#include "tool/versionquery.h"

#include "core/log.h"
#include "core/printable.h"
#include "tool/firmwaretool.h"
#include "tool/toolrun.h"
#include "tool/versionparse.h"

#include <QEventLoop>

QString runLimitLogLine(std::chrono::milliseconds runLimit)
{
    // Tests shorten the bound below a second; the line must still be true.
    const double seconds = double(runLimit.count()) / 1000.0;
    return QStringLiteral("[Sync] Firmware tool did not finish within ") + QString::number(seconds)
        + (seconds == 1.0 ? QStringLiteral(" second") : QStringLiteral(" seconds")) + QStringLiteral("; stopped it");
}

ToolRunLimits versionQueryLimits()
{
    using namespace std::chrono_literals;
    return {.runLimit = 20s, .killGrace = 2s, .drainAfterExit = 1s};
}

std::optional<QString> queryFirmwareVersionSync(const FirmwareTool &tool, const QList<int> &inherited,
                                                const ToolRunLimits &limits, const QString &logDirectory)
{
    // A path that names nothing is not one a tool was launched at.
    if (tool.state != FirmwareTool::State::Missing)
        logLine(QStringLiteral("[Sync] Launching firmware tool at: ") + withoutControlCharacters(tool.path));

    ToolRun run(tool, versionQueryArguments(), ToolLogKind::Sync, limits, logDirectory);
    run.setInheritedDescriptors(inherited);
    QEventLoop loop;
    QObject::connect(&run, &ToolRun::limitExceeded, &loop, [&] { logLine(runLimitLogLine(limits.runLimit)); });
    QObject::connect(&run, &ToolRun::finished, &loop, &QEventLoop::quit);
    run.start();
    // Input stays out so the user cannot start a second query or an upgrade
    // from inside this one.
    if (!run.isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    // An app-wide quit ends the loop early and makes exec() return at once
    // from then on; events must still be served or the tool is never reaped.
    while (!run.isFinished())
        loop.processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);

    const ToolRunResult &result = run.result();
    if (!logToolRunEnd(result, ToolLogKind::Sync))
        return std::nullopt;

    std::optional<QString> version = extractFirmwareVersion(result.text);
    if (version)
        logLine(QStringLiteral("[Sync] Found firmware version: ") + *version);
    else
        logLine(u"[Sync] Version not found. Output:\n", result.text);
    return version;
}
