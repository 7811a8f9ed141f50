#pragma once

#include "tool/firmwaretool.h"

#include <QString>

#include <chrono>
#include <optional>

// How long the version query lets the tool take. A hung tool must not freeze
// the app: the query runs on the main thread.
struct QueryBounds {
    // From launch until the tool is asked to stop (SIGTERM).
    std::chrono::milliseconds runLimit{20000};
    // From SIGTERM until SIGKILL.
    std::chrono::milliseconds killGrace{2000};
    // Once the tool has exited, how long output may still be read from a
    // process it left behind holding the pipe.
    std::chrono::milliseconds drainAfterExit{1000};
};

// Runs the firmware tool's version query and returns the version it printed.
// Returns only when done, but keeps timers and other non-input events going
// while it waits, so the window stays painted and device monitoring goes on.
// Saves the whole output to /tmp/talvex_sync_<UUID>.log for support.
std::optional<QString> queryFirmwareVersionSync(const FirmwareTool &tool, const QueryBounds &bounds = {},
                                                const QString &logDirectory = QStringLiteral("/tmp"));

// "[Sync] Firmware tool did not finish within 20 seconds; stopped it" for the
// default bound.
QString runLimitLogLine(std::chrono::milliseconds runLimit);
