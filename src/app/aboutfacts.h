#pragma once

#include "tool/firmwaretool.h"
#include "ui/aboutwindow.h"

// What the About window tells: this build's version, and where the program
// looks for the tool and keeps its settings, history and logs.
AboutFacts aboutFacts(const ToolDirectories &tools, const QString &settingsFile, const QString &historyFile);
