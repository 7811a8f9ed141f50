#pragma once

#include <QString>

enum class ExitKind { Normal, Signal };

struct UpgradeOutcome {
    bool success;
    QString message; // in the user's language, for the result alert
};

// Judges an upgrade run from what the tool printed and how it ended. The tool
// may exit 0 after a failed flash, so its words decide once the exit was clean.
UpgradeOutcome classifyUpgrade(const QString &output, int exitStatus, ExitKind kind);

// "[Upgrade] Success: YES|NO, Message: <message>"
QString verdictLogLine(const UpgradeOutcome &outcome);
