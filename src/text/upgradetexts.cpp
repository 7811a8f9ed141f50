#include "text/upgradetexts.h"

#include "core/printable.h"
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

QString imageProblemText(const ImageCheck &check, const QString &path)
{
    // A file name may carry anything, control characters too.
    const QString name = withoutControlCharacters(path);
    switch (check.problem) {
    case ImageProblem::None:
        break;
    case ImageProblem::Missing:
        return Ui::ImageMissing.arg(name);
    case ImageProblem::NotAFile:
        return Ui::ImageNotAFile.arg(name);
    case ImageProblem::Unreadable:
        return Ui::ImageUnreadable.arg(name, check.reason);
    case ImageProblem::Empty:
        return Ui::ImageEmpty.arg(name);
    case ImageProblem::TooLarge:
        return Ui::ImageTooLarge.arg(name);
    case ImageProblem::CopyFailed:
        return Ui::ImageCopyFailed.arg(check.reason);
    }
    return {};
}

QString toolLockRefusalText(const QString &holder, const QString &error)
{
    if (!error.isEmpty())
        return Ui::ToolLockFailed.arg(error);
    return holder.isEmpty() ? Ui::UpgradeBusy.text() : Ui::UpgradeBusyBy.arg(holder);
}

QString toolProblemText(const FirmwareTool &tool, const ToolDirectories &dirs)
{
    switch (tool.state) {
    case FirmwareTool::State::Found:
        break;
    case FirmwareTool::State::Missing:
        return Ui::ToolMissing.arg(withoutControlCharacters(dirs.executableDir), withoutControlCharacters(dirs.resourceDir));
    case FirmwareTool::State::NotExecutable:
        return Ui::ToolNotExecutable.arg(withoutControlCharacters(tool.path));
    }
    return {};
}
