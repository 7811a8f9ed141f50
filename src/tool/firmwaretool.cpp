#include "tool/firmwaretool.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

ToolDirectories ToolDirectories::forRunningProgram()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    return {appDir, QDir::cleanPath(appDir + QStringLiteral("/../libexec/quorvale"))};
}

namespace {

// A directory entry we could actually exec; a stray non-executable copy must
// not shadow a working tool further down the list.
bool isRunnableTool(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

} // namespace

QString firmwareToolPath(const ToolDirectories &dirs)
{
    const QString name = QLatin1String(FirmwareToolName);
    for (const QString &dir : {dirs.executableDir, dirs.resourceDir}) {
        if (dir.isEmpty())
            continue;
        const QString candidate = dir + QLatin1Char('/') + name;
        if (isRunnableTool(candidate))
            return candidate;
    }
    return name;
}

QString programForLaunch(const QString &toolPath)
{
    if (toolPath.contains(QLatin1Char('/')))
        return toolPath;
    return QStringLiteral("./") + toolPath;
}

namespace {

QStringList dockSelector()
{
    return {QStringLiteral("-vid"), QStringLiteral("21C4"), QStringLiteral("-pid"), QStringLiteral("B070")};
}

} // namespace

QStringList versionQueryArguments()
{
    return dockSelector() << QStringLiteral("-v") << QStringLiteral("-l") << QStringLiteral("debug");
}

QStringList upgradeArguments(const QString &imageFile)
{
    return dockSelector() << QStringLiteral("-i") << imageFile << QStringLiteral("-l") << QStringLiteral("v");
}
