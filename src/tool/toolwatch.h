#pragma once

#include "tool/firmwaretool.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

// Tells when the firmware tool comes, goes or changes (made executable) in
// the folders it is looked for in, through the kernel's file notifications:
// nothing is polled. A folder that does not exist yet is watched through the
// nearest folder above it that does, so a folder made later is seen too.
// The change is told once the folders have been still for a moment: a tool
// that is still being copied in cannot be run yet ("Text file busy").
class FirmwareToolWatch : public QObject {
    Q_OBJECT
public:
    explicit FirmwareToolWatch(ToolDirectories dirs, QObject *parent = nullptr);

    // The tool as found at the last change.
    const FirmwareTool &tool() const { return m_tool; }

signals:
    // The tool was found, went missing, or can no longer be run.
    void changed();

private:
    void watch();
    void look();

    const ToolDirectories m_dirs;
    QFileSystemWatcher m_watcher;
    QTimer m_settle;
    FirmwareTool m_tool;
};
