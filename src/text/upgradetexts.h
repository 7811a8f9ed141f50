#pragma once

#include "core/upgradeverdict.h"

#include <QString>

// The result alert's message for an upgrade's verdict, in the user's language;
// the upgrade's log line carries the same text.
QString upgradeVerdictMessage(UpgradeVerdict verdict);
