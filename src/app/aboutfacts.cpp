#include "app/aboutfacts.h"

#include "tool/tooloutput.h"

#include <QDir>

QString historyFilePath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(state + QStringLiteral("/quorvale/history.sqlite"));
}

AboutFacts aboutFacts(const ToolDirectories &tools, const QString &settingsFile)
{
    return {QStringLiteral(QUORVALE_VERSION),
            QLatin1String(FirmwareToolName),
            {tools.executableDir, tools.resourceDir},
            settingsFile,
            historyFilePath(),
            {toolLogPattern(ToolLogKind::Sync), toolLogPattern(ToolLogKind::Upgrade)}};
}
