#include "tool/upgradeoutcome.h"

#include "text/uitext.h"

#include <QLatin1StringView>

namespace {

// Wordings of a finished install across tool releases.
constexpr QLatin1StringView SuccessPhrases[] = {
    QLatin1StringView("Firmware install (phase-1) completed"),
    QLatin1StringView("Firmware update successful"),
    QLatin1StringView("Firmware update completed"),
    QLatin1StringView("Firmware install completed"),
};

} // namespace

UpgradeOutcome classifyUpgrade(const QString &output, int exitStatus, ExitKind kind)
{
    if (exitStatus != 0 || kind == ExitKind::Signal)
        return {false, Ui::ToolExitedAbnormally.text()};
    // A failure report wins even when a success line came before it, e.g. a
    // first phase that completed and a second that did not.
    if (output.contains(QLatin1StringView("Firmware update failed"), Qt::CaseInsensitive))
        return {false, Ui::UpgradeFailedMessage.text()};
    for (QLatin1StringView phrase : SuccessPhrases) {
        if (output.contains(phrase, Qt::CaseInsensitive))
            return {true, Ui::UpgradeSuccessful.text()};
    }
    return {false, Ui::UpgradeFailedMessage.text()};
}

QString verdictLogLine(const UpgradeOutcome &outcome)
{
    return QStringLiteral("[Upgrade] Success: ") + (outcome.success ? QStringLiteral("YES") : QStringLiteral("NO"))
        + QStringLiteral(", Message: ") + outcome.message;
}
