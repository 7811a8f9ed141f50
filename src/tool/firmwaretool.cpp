#include "tool/firmwaretool.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

ToolDirectories ToolDirectories::forRunningProgram()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    return {appDir, QDir::cleanPath(appDir + QStringLiteral("/../libexec/quorvale"))};
}

// A stray non-executable copy must not shadow a working tool further down
// the list, but when there is none it is what the user needs to hear about.
FirmwareTool findFirmwareTool(const ToolDirectories &dirs)
{
    const QString name = QLatin1String(FirmwareToolName);
    QStringList searched;
    QString notExecutable;
    for (const QString &dir : {dirs.executableDir, dirs.resourceDir}) {
        if (dir.isEmpty())
            continue;
        searched << dir;
        const QString candidate = dir + QLatin1Char('/') + name;
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return candidate;
        if (info.isFile() && notExecutable.isEmpty())
            notExecutable = candidate;
    }
    if (!notExecutable.isEmpty())
        return {notExecutable, notExecutable + QStringLiteral(" is not executable"), FirmwareTool::State::NotExecutable};
    const QString path = searched.isEmpty() ? name : searched.first() + QLatin1Char('/') + name;
    if (searched.size() < 2)
        return {path, name + QStringLiteral(" not found in ") + searched.value(0, QStringLiteral("any folder")),
                FirmwareTool::State::Missing};
    return {path, name + QStringLiteral(" not found beside the program (%1) or in %2").arg(searched[0], searched[1]),
            FirmwareTool::State::Missing};
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
