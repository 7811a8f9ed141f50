#pragma once

#include "tool/firmwaretool.h"
#include "tool/toolrun.h"

#include <QString>

#include <chrono>
#include <optional>

// How long the version query lets the tool take: 20 seconds until it is asked
// to stop, 2 more until it is killed, and 1 to read what a process it left
// behind still writes. A hung tool must not freeze the app: the query runs on
// the main thread.
ToolRunLimits versionQueryLimits();

// Runs the firmware tool's version query and returns the version it printed.
// Returns only when done, but keeps timers and other non-input events going
// while it waits, so the window stays painted and device monitoring goes on.
// Saves the whole output to /tmp/talvex_sync_<UUID>.log for support. The
// descriptors stay open in the tool for its whole life (the tool lock).
std::optional<QString> queryFirmwareVersionSync(const FirmwareTool &tool, const QList<int> &inherited = {},
                                                const ToolRunLimits &limits = versionQueryLimits(),
                                                const QString &logDirectory = QStringLiteral("/tmp"));

// "[Sync] Firmware tool did not finish within 20 seconds; stopped it" for the
// default bound.
QString runLimitLogLine(std::chrono::milliseconds runLimit);
