#pragma once

#include "core/imagecheck.h"
#include "core/upgradeverdict.h"
#include "tool/firmwaretool.h"

#include <QString>

// The result alert's message for an upgrade's verdict, in the user's language;
// the upgrade's log line carries the same text.
QString upgradeVerdictMessage(UpgradeVerdict verdict);

// Why a file picked as an image cannot be flashed, naming it.
QString imageProblemText(const ImageCheck &check, const QString &path);

// Why no upgrade starts because of the lock that keeps two tools off the
// dock: held by `holder` ("process 1234 (quorvale)", or empty when unknown),
// or not to be taken at all (`error` set).
QString toolLockRefusalText(const QString &holder, const QString &error);

// What keeps the tool from being run, for the line under the table; empty
// when it can be run.
QString toolProblemText(const FirmwareTool &tool, const ToolDirectories &dirs);
