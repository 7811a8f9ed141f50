#include "app/aboutfacts.h"

#include "tool/tooloutput.h"

AboutFacts aboutFacts(const ToolDirectories &tools, const QString &settingsFile, const QString &historyFile)
{
    return {QStringLiteral(QUORVALE_VERSION),
            QLatin1String(FirmwareToolName),
            {tools.executableDir, tools.resourceDir},
            settingsFile,
            historyFile,
            {toolLogPattern(ToolLogKind::Sync), toolLogPattern(ToolLogKind::Upgrade)}};
}
