#include "tool/toolwatch.h"

#include <QDir>
#include <QFileInfo>

namespace {
// The folder itself, or the nearest one above it that exists.
QString nearestExisting(QString dir)
{
    while (!dir.isEmpty() && !QFileInfo(dir).isDir()) {
        const QString parent = QFileInfo(dir).path();
        if (parent == dir)
            return {};
        dir = parent;
    }
    return dir;
}
} // namespace

FirmwareToolWatch::FirmwareToolWatch(ToolDirectories dirs, QObject *parent)
    : QObject(parent)
    , m_dirs(std::move(dirs))
    , m_tool(findFirmwareTool(m_dirs))
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(300);
    connect(&m_settle, &QTimer::timeout, this, &FirmwareToolWatch::look);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &FirmwareToolWatch::watch);
    watch();
    m_settle.stop();
}

// Each event puts the look off again, until the copying is done.
void FirmwareToolWatch::watch()
{
    // What is watched follows what exists: a folder made, the tool put in it.
    // A folder's watch also tells of its files' mode changing (made executable).
    QStringList paths;
    for (const QString &dir : {m_dirs.executableDir, m_dirs.resourceDir})
        if (const QString watched = nearestExisting(QDir::cleanPath(dir)); !watched.isEmpty())
            paths << watched;
    const QStringList watched = m_watcher.directories();
    for (const QString &path : watched)
        if (!paths.contains(path))
            m_watcher.removePath(path);
    for (const QString &path : std::as_const(paths))
        if (!watched.contains(path))
            m_watcher.addPath(path);
    m_settle.start();
}

void FirmwareToolWatch::look()
{
    const FirmwareTool found = findFirmwareTool(m_dirs);
    if (found.state == m_tool.state && found.path == m_tool.path)
        return;
    m_tool = found;
    emit changed();
}
