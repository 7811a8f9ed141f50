#include "flash/flashjob.h"

#include "core/log.h"
#include "core/printable.h"
#include "history/historystore.h"
#include "text/devicetexts.h"
#include "text/uitext.h"
#include "text/upgradetexts.h"
#include "tool/tooloutput.h"

namespace {
const QString MoreThanOneDockLine =
    QStringLiteral("[Upgrade] More than one dock is connected; the firmware tool cannot tell them apart");

} // namespace

FlashResult flashResultOf(const FlashOutcome &outcome)
{
    using Kind = FlashOutcome::Kind;
    switch (outcome.kind) {
    case Kind::Ran:
        switch (outcome.report.verdict) {
        case UpgradeVerdict::Success:
            return FlashResult::Success;
        case UpgradeVerdict::Failed:
            return FlashResult::Failed;
        case UpgradeVerdict::AbnormalEnd:
            return FlashResult::AbnormalEnd;
        }
        break;
    case Kind::NotLaunched:
        return FlashResult::LaunchFailed;
    case Kind::ImageRefused:
        // A file that is not an image is refused; one that could not be
        // copied (a full disk) kept the tool from starting.
        return outcome.report.image.problem == ImageProblem::CopyFailed ? FlashResult::LaunchFailed
                                                                        : FlashResult::Refused;
    case Kind::DockGone:
    case Kind::NotAlone:
    case Kind::LockBusy:
    case Kind::LockFailed:
        break;
    }
    return FlashResult::Refused;
}

namespace {
// The attempt as it stands before the tool runs; the copy's size and digest
// where the image was copied.
FlashRecord flashRecordStart(const DeviceRecord &dock, const QString &imagePath, const ImageCopy &copy,
                             std::chrono::seconds silenceLimit)
{
    FlashRecord row;
    row.started = QDateTime::currentDateTimeUtc();
    row.manufacturer = dock.vendor;
    row.product = dock.product;
    row.serial = dock.serial;
    row.syspath = dock.syspath;
    row.versionBefore = dock.fwversion;
    row.imagePath = imagePath;
    row.imageSize = copy.size;
    row.imageSha256 = copy.sha256;
    row.silenceLimitSeconds = int(silenceLimit.count());
    row.result = FlashResult::Running;
    return row;
}

// What the user is told of an outcome, in their language.
QString flashOutcomeMessage(const FlashOutcome &outcome, const QString &imagePath)
{
    using Kind = FlashOutcome::Kind;
    switch (outcome.kind) {
    case Kind::Ran:
        return upgradeVerdictMessage(outcome.report.verdict);
    case Kind::NotLaunched:
        return Ui::FailedToLaunch.arg(outcome.report.launchError);
    case Kind::ImageRefused:
        return imageProblemText(outcome.report.image, imagePath);
    case Kind::NotAlone:
        return Ui::MoreThanOneDock.text();
    case Kind::LockBusy:
    case Kind::LockFailed:
        return toolLockRefusalText(outcome.lockHolder, outcome.lockError);
    case Kind::DockGone:
        break;
    }
    return {};
}
// The details of an outcome: after a run, the tool's lines that tell what
// went wrong (or its last lines), how it ended and where its log is; after a
// launch failure, where the tool was looked for.
QString flashOutcomeDetails(const FlashOutcome &outcome, const ToolDirectories &tools)
{
    const UpgradeReport &report = outcome.report;
    if (outcome.kind == FlashOutcome::Kind::NotLaunched)
        return Ui::AboutToolFolders.arg(QLatin1String(FirmwareToolName)) + QLatin1Char('\n') + tools.executableDir
            + QLatin1Char('\n') + tools.resourceDir;
    if (outcome.kind != FlashOutcome::Kind::Ran)
        return {};
    const QString output = QString::fromUtf8(report.outputTail);
    QStringList lines = outcome.success ? QStringList() : failureLines(output, 20);
    const bool failures = !lines.isEmpty();
    if (!failures)
        lines = lastLines(output, 5);
    QStringList details;
    if (!lines.isEmpty())
        details << (failures ? Ui::DetailsFailureLines.text() : Ui::DetailsLastLines.text()) + QLatin1Char('\n')
                + lines.join(QLatin1Char('\n'));
    const QString status = QString::number(report.exitStatus);
    details << (report.exitKind == ExitKind::Normal ? Ui::DetailsExitStatus.arg(status) : Ui::DetailsSignal.arg(status))
            + QLatin1Char('\n')
            + (report.logPath.isEmpty() ? Ui::NoLog.text() : Ui::DetailsLog.arg(withoutControlCharacters(report.logPath)));
    return details.join(QStringLiteral("\n\n"));
}
} // namespace

FlashJob::FlashJob(const FlashSetup &setup, const DeviceRecord &dock, const QString &imagePath,
                   std::chrono::seconds silenceLimit, QObject *parent)
    : QObject(parent)
    , m_setup(setup)
    , m_dock(dock)
    , m_imagePath(imagePath)
    , m_silenceLimit(silenceLimit)
    , m_lock(setup.lockPath)
{
    connect(&m_sleep, &SleepInhibitor::settled, this, &FlashJob::launchWhenReady);
}

FlashJob::~FlashJob() = default;

bool FlashJob::start()
{
    // The list may be as it was when a question went up: a dock unplugged or
    // plugged in meanwhile shows only in a fresh look. The tool is told the
    // dock's USB IDs, nothing more: with two docks of this model it would
    // pick one itself, maybe not the one named.
    if (const DockChoice choice = chooseDock(m_setup.docks.lookAgain(), m_dock); choice != DockChoice::Alone) {
        if (choice == DockChoice::NotAlone)
            logLine(MoreThanOneDockLine);
        end(choice == DockChoice::NotAlone ? FlashOutcome::Kind::NotAlone : FlashOutcome::Kind::DockGone);
        return false;
    }
    // Two tools flashing one dock would corrupt it, also from two copies of
    // the program, of any user.
    if (const ToolLock::Result lock = m_lock.tryExclusive(); lock != ToolLock::Result::Taken) {
        m_outcome.lockHolder = lock == ToolLock::Result::Busy ? m_lock.holder() : QString();
        m_outcome.lockError = m_lock.error();
        logLine(QStringLiteral("[Upgrade] Not starting: ") + describeLockRefusal(m_outcome.lockHolder, m_outcome.lockError));
        end(lock == ToolLock::Result::Busy ? FlashOutcome::Kind::LockBusy : FlashOutcome::Kind::LockFailed);
        return false;
    }
    m_run = std::make_unique<UpgradeRun>(findFirmwareTool(m_setup.tools), m_imagePath, m_silenceLimit,
                                         upgradeVerdictMessage, m_setup.logDirectory, m_setup.imageDirectory);
    // Queued, so the run is never deleted from inside its own signal.
    connect(m_run.get(), &UpgradeRun::finished, this, &FlashJob::runEnded, Qt::QueuedConnection);
    connect(m_run.get(), &UpgradeRun::imageReady, this, [this] {
        m_imageReady = true;
        launchWhenReady();
    });
    // A suspend or shutdown in the middle of a flash could leave the dock
    // without firmware. logind's answer is awaited (for a bounded time)
    // while the image is copied.
    m_sleep.acquire();
    m_run->start();
    return true;
}

// The tool starts once the image is copied and logind has answered (or kept
// silent too long), and only if the dock is still there, alone.
void FlashJob::launchWhenReady()
{
    if (!m_run || !m_imageReady || !m_sleep.isSettled() || m_toolStarted)
        return;
    m_toolStarted = true;
    if (const DockChoice choice = chooseDock(m_setup.docks.lookAgain(), m_dock); choice != DockChoice::Alone) {
        logLine(choice == DockChoice::NotAlone ? MoreThanOneDockLine
                                               : QStringLiteral("[Upgrade] The dock was unplugged; nothing was flashed"));
        m_outcome.kind = choice == DockChoice::NotAlone ? FlashOutcome::Kind::NotAlone : FlashOutcome::Kind::DockGone;
        m_run->abandon();
        return;
    }
    // On record before the tool starts: should nothing come back from it,
    // the next start finds the row still running.
    if (m_setup.history) {
        FlashRecord row = flashRecordStart(m_dock, m_imagePath, m_run->imageCopy(), m_silenceLimit);
        m_outcome.historyId = m_setup.history->begin(row);
    }
    logLine(QStringLiteral("Starting firmware upgrade for %1 %2 with file: %3")
                .arg(nameOrUnknown(m_dock.vendor), nameOrUnknown(m_dock.product), withoutControlCharacters(m_imagePath)));
    // The tool holds the locks for as long as it runs, also should this
    // program die: no other copy starts a tool, and the machine stays awake.
    QList<int> inherited{m_lock.descriptor()};
    if (m_sleep.isHeld())
        inherited << m_sleep.descriptor();
    emit toolStarting();
    m_outcome.kind = FlashOutcome::Kind::Ran;
    m_run->launchTool(inherited);
}

void FlashJob::runEnded()
{
    m_outcome.report = m_run->report();
    const UpgradeReport &report = m_outcome.report;
    if (!report.image.ok())
        m_outcome.kind = FlashOutcome::Kind::ImageRefused;
    else if (!report.abandoned)
        m_outcome.kind = report.launched ? FlashOutcome::Kind::Ran : FlashOutcome::Kind::NotLaunched;
    m_run.reset();
    end(m_outcome.kind);
    emit finished();
}

// The row is complete before the lock goes: another copy that finds the lock
// free and the row still running knows the flash was cut short.
void FlashJob::end(FlashOutcome::Kind kind)
{
    m_outcome.kind = kind;
    m_outcome.success = kind == FlashOutcome::Kind::Ran && m_outcome.report.verdict == UpgradeVerdict::Success;
    m_outcome.headline = kind == FlashOutcome::Kind::DockGone ? QString()
                         : m_outcome.success                  ? Ui::UpgradeSuccess.text()
                                                              : Ui::UpgradeFailed.text();
    m_outcome.message = flashOutcomeMessage(m_outcome, m_imagePath);
    m_outcome.details = flashOutcomeDetails(m_outcome, m_setup.tools);
    record();
    m_lock.release();
    m_sleep.release();
    m_finished = true;
}

void FlashJob::record()
{
    if (!m_setup.history)
        return;
    FlashRecord row;
    if (!m_outcome.historyId) { // refused before the tool: the whole row at once
        row = flashRecordStart(m_dock, m_imagePath, {}, m_silenceLimit);
        m_outcome.historyId = m_setup.history->begin(row);
    }
    if (!m_outcome.historyId)
        return;
    row.ended = QDateTime::currentDateTimeUtc();
    row.result = flashResultOf(m_outcome);
    row.message = m_outcome.message;
    row.logPath = m_outcome.report.logPath;
    row.outputTail = m_outcome.report.outputTail;
    m_setup.history->finish(*m_outcome.historyId, row);
}
