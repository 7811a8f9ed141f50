#pragma once

#include "tool/firmwaretool.h"
#include "ui/aboutwindow.h"

// Where the upgrade history is kept: $XDG_STATE_HOME/quorvale/history.sqlite,
// or ~/.local/state/quorvale/history.sqlite when that is unset or not an
// absolute path, as the XDG base directories have it.
QString historyFilePath();

// What the About window tells: this build's version, and where the program
// looks for the tool and keeps its settings, history and logs.
AboutFacts aboutFacts(const ToolDirectories &tools, const QString &settingsFile);
