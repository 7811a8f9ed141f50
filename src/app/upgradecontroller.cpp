#include "app/upgradecontroller.h"

#include "app/sleepinhibitor.h"
#include "core/log.h"
#include "core/printable.h"
#include "settings/imagefolder.h"
#include "settings/preferencesvalue.h"
#include "text/devicetexts.h"
#include "text/uitext.h"
#include "text/upgradetexts.h"
#include "tool/imagefile.h"
#include "tool/upgraderun.h"
#include "ui/firmwarefiledialog.h"
#include "ui/presentwindow.h"
#include "ui/upgradeprogresswindow.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

namespace {
const QString MoreThanOneDockLine =
    QStringLiteral("[Upgrade] More than one dock is connected; the firmware tool cannot tell them apart");

// Why the lock was not taken, for the log: held by `holder` (maybe unknown),
// or not to be taken at all (`error`).
QString refusal(const QString &holder, const QString &error)
{
    if (!error.isEmpty())
        return QStringLiteral("cannot take the firmware tool lock: ") + error;
    return holder.isEmpty() ? QStringLiteral("another process is using the firmware tool")
                            : QStringLiteral("the firmware tool is in use by ") + holder;
}
} // namespace

UpgradeController::UpgradeController(QString settingsPath, ToolDirectories tools, DockLookup docks,
                                     const QString &lockPath, QString imageDirectory, QObject *parent)
    : QObject(parent)
    , m_settingsPath(std::move(settingsPath))
    , m_tools(std::move(tools))
    , m_docks(std::move(docks))
    , m_imageDirectory(std::move(imageDirectory))
    , m_sleepInhibitor(new SleepInhibitor(this))
    , m_toolLock(lockPath)
    , m_queryLock(lockPath)
{
    // Every way of quitting (the menu, the last window, the desktop, a
    // signal) reaches the application as a quit event.
    QCoreApplication::instance()->installEventFilter(this);
    connect(m_sleepInhibitor, &SleepInhibitor::settled, this, &UpgradeController::launchWhenReady);
}

UpgradeController::~UpgradeController() = default;

void UpgradeController::upgradeFirmware(const DeviceRecord &dock)
{
    if (upgradeInProgress())
        return;
    m_dock = dock;
    if (!chosenDockAlone(m_docks.listed()))
        return;
    auto *dialog = new FirmwareFileDialog(m_window, imageStartFolder(m_settingsPath));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString &file) { rememberImageFolder(m_settingsPath, file); });
    // Queued: the dialog is gone before the confirmation shows.
    connect(dialog, &QFileDialog::fileSelected, this, &UpgradeController::confirmUpgrade, Qt::QueuedConnection);
    dialog->open();
}

// The firmware tool is told the dock's USB IDs, nothing more: with two docks
// of this model it would pick one itself, maybe not the one named here.
bool UpgradeController::chosenDockAlone(const DeviceList &docks)
{
    switch (chooseDock(docks, m_dock)) {
    case DockChoice::Alone:
        return true;
    case DockChoice::Gone:
        return false;
    case DockChoice::NotAlone:
        break;
    }
    logLine(MoreThanOneDockLine);
    runAlert(Ui::UpgradeFailed.text(), Ui::MoreThanOneDock.text());
    return false;
}

void UpgradeController::confirmUpgrade(const QString &filePath)
{
    // The list may have changed while the dialog was open: the dock picked
    // is asked about as it is now, and when it is gone the flow ends.
    if (upgradeInProgress() || !chosenDockAlone(m_docks.listed()))
        return;
    // Only a file can be an image: a FIFO or a device would hold or feed
    // the tool for as long as it likes, mid-flash.
    if (const ImageCheck image = checkImageFile(filePath); !image.ok()) {
        logLine(QStringLiteral("[Upgrade] The image ") + withoutControlCharacters(filePath) + QLatin1Char(' ')
                + describeImageProblem(image));
        runAlert(Ui::UpgradeFailed.text(), imageProblemText(image, filePath));
        return;
    }
    QMessageBox alert;
    alert.setWindowTitle(QStringLiteral("Quorvale"));
    alert.setText(Ui::ConfirmFirmwareUpgrade.text());
    alert.setInformativeText(confirmationText(m_dock, QFileInfo(filePath).fileName()));
    QPushButton *confirm = alert.addButton(Ui::ConfirmUpgrade.text(), QMessageBox::AcceptRole);
    alert.addButton(Ui::Cancel.text(), QMessageBox::RejectRole);
    alert.setDefaultButton(confirm);
    alert.exec();
    if (alert.clickedButton() != confirm) {
        giveBackKeyboard();
        return;
    }
    performFirmwareUpgradeWithFilePath(filePath);
}

bool UpgradeController::holdToolForQuery()
{
    if (upgradeInProgress())
        return false;
    const ToolLock::Result result = m_queryLock.tryShared();
    if (result == ToolLock::Result::Taken) {
        m_queryWait.clear();
        return true;
    }
    // Once for as long as it waits for the same reason: a lock that cannot
    // be taken at all would otherwise leave "N/A" without a word.
    const QString wait = result == ToolLock::Result::Failed ? m_queryLock.error() : QStringLiteral("busy");
    if (wait != m_queryWait) {
        m_queryWait = wait;
        const QString holder = result == ToolLock::Result::Busy ? m_queryLock.holder() : QString();
        logLine(QStringLiteral("[Sync] Version query waits: ") + refusal(holder, m_queryLock.error()));
    }
    return false;
}

void UpgradeController::performFirmwareUpgradeWithFilePath(const QString &filePath)
{
    if (upgradeInProgress())
        return;
    // The list stayed as it was while the question was up: a dock unplugged
    // or plugged in meanwhile shows only in a fresh look.
    if (!chosenDockAlone(m_docks.lookAgain())) {
        giveBackKeyboard();
        return;
    }
    // Two tools flashing one dock would corrupt it, also from two copies of
    // the program, of any user.
    if (const ToolLock::Result lock = m_toolLock.tryExclusive(); lock != ToolLock::Result::Taken) {
        const QString holder = lock == ToolLock::Result::Busy ? m_toolLock.holder() : QString();
        logLine(QStringLiteral("[Upgrade] Not starting: ") + refusal(holder, m_toolLock.error()));
        runAlert(Ui::UpgradeFailed.text(), toolLockRefusalText(holder, m_toolLock.error()));
        return;
    }
    m_imagePath = filePath;
    m_imageReady = m_toolStarted = m_tooManyDocks = false;
    // Shown before the run can report, so the report always finds it.
    progressWindow = std::make_unique<UpgradeProgressWindow>();
    presentWindow(progressWindow.get());
    m_upgrade = std::make_unique<UpgradeRun>(findFirmwareTool(m_tools), filePath,
                                             std::chrono::seconds(storedUpgradeTimeoutSeconds(m_settingsPath)),
                                             upgradeVerdictMessage, QStringLiteral("/tmp"), m_imageDirectory);
    // Queued, so the run is never deleted from inside its own signal.
    connect(m_upgrade.get(), &UpgradeRun::finished, this, &UpgradeController::runEnded, Qt::QueuedConnection);
    connect(m_upgrade.get(), &UpgradeRun::imageReady, this, [this] {
        m_imageReady = true;
        launchWhenReady();
    });
    // A suspend or shutdown in the middle of a flash could leave the dock
    // without firmware. The answer is awaited (for a bounded time) while the
    // image is copied.
    m_sleepInhibitor->acquire();
    m_upgrade->start();
}

// The tool starts once the image is copied and logind has answered (or kept
// silent too long), and only if the dock is still there, alone.
void UpgradeController::launchWhenReady()
{
    if (!m_upgrade || !m_imageReady || !m_sleepInhibitor->isSettled() || m_toolStarted)
        return;
    m_toolStarted = true;
    if (const DockChoice choice = chooseDock(m_docks.lookAgain(), m_dock); choice != DockChoice::Alone) {
        m_tooManyDocks = choice == DockChoice::NotAlone;
        logLine(m_tooManyDocks ? MoreThanOneDockLine : QStringLiteral("[Upgrade] The dock was unplugged; nothing was flashed"));
        m_upgrade->abandon();
        return;
    }
    logLine(QStringLiteral("Starting firmware upgrade for %1 %2 with file: %3")
                .arg(nameOrUnknown(m_dock.vendor), nameOrUnknown(m_dock.product), withoutControlCharacters(m_imagePath)));
    // The tool holds the locks for as long as it runs, also should this
    // program die: no other copy starts a tool, and the machine stays awake.
    QList<int> inherited{m_toolLock.descriptor()};
    if (m_sleepInhibitor->isHeld())
        inherited << m_sleepInhibitor->descriptor();
    m_upgrade->launchTool(inherited);
}

void UpgradeController::runEnded()
{
    const UpgradeReport report = m_upgrade->report();
    m_upgrade.reset();
    m_toolLock.release();
    m_sleepInhibitor->release();
    emit upgradeEnded();
    closeProgressWindow();
    if (m_quitAfterUpgrade) {
        QCoreApplication::quit();
        return;
    }
    if (!report.image.ok())
        runAlert(Ui::UpgradeFailed.text(), imageProblemText(report.image, m_imagePath));
    else if (report.abandoned && m_tooManyDocks)
        runAlert(Ui::UpgradeFailed.text(), Ui::MoreThanOneDock.text());
    else if (report.abandoned)
        giveBackKeyboard();
    else if (report.launched)
        runAlert(report.verdict == UpgradeVerdict::Success ? Ui::UpgradeSuccess.text() : Ui::UpgradeFailed.text(),
                 upgradeVerdictMessage(report.verdict));
    else
        runAlert(Ui::UpgradeFailed.text(), Ui::FailedToLaunch.arg(report.launchError));
}

bool UpgradeController::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Quit && watched == QCoreApplication::instance() && upgradeInProgress()) {
        // Quitting would end the tool and its pipe in the middle of a flash.
        if (!m_quitAfterUpgrade)
            logLine(QStringLiteral("[Upgrade] Quit requested during a firmware upgrade; quitting when it ends"));
        m_quitAfterUpgrade = true;
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void UpgradeController::closeProgressWindow()
{
    if (progressWindow)
        progressWindow->close();
}

void UpgradeController::runAlert(const QString &headline, const QString &text)
{
    QMessageBox alert;
    alert.setWindowTitle(QStringLiteral("Quorvale"));
    alert.setText(headline);
    alert.setInformativeText(text);
    alert.addButton(Ui::Ok.text(), QMessageBox::AcceptRole);
    alert.exec();
    giveBackKeyboard();
}

// Without a window manager nothing else would give the main window back the
// keyboard once a dialog, the progress window or an alert is gone. A main
// window the user closed stays closed.
void UpgradeController::giveBackKeyboard()
{
    if (m_window && m_window->isVisible())
        presentWindow(m_window);
}
