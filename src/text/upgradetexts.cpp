#include "text/upgradetexts.h"

#include "text/uitext.h"

QString upgradeVerdictMessage(UpgradeVerdict verdict)
{
    switch (verdict) {
    case UpgradeVerdict::Success:
        return Ui::UpgradeSuccessful.text();
    case UpgradeVerdict::Failed:
        return Ui::UpgradeFailedMessage.text();
    case UpgradeVerdict::AbnormalEnd:
        break;
    }
    return Ui::ToolExitedAbnormally.text();
}
