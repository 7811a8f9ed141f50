#include "app/upgradecontroller.h"

#include "app/sleepinhibitor.h"
#include "core/log.h"
#include "settings/preferencesvalue.h"
#include "text/devicetexts.h"
#include "text/uitext.h"
#include "text/upgradetexts.h"
#include "tool/upgraderun.h"
#include "ui/firmwarefiledialog.h"
#include "ui/presentwindow.h"
#include "ui/upgradeprogresswindow.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

UpgradeController::UpgradeController(QString settingsPath, ToolDirectories tools, FindDevice findDevice,
                                     QString lockPath, QObject *parent)
    : QObject(parent)
    , m_settingsPath(std::move(settingsPath))
    , m_tools(std::move(tools))
    , m_findDevice(std::move(findDevice))
    , m_sleepInhibitor(new SleepInhibitor(this))
    , m_toolLock(lockPath.isEmpty() ? ToolLock::defaultPath() : lockPath)
    , m_queryLock(lockPath.isEmpty() ? ToolLock::defaultPath() : lockPath)
{
    // Every way of quitting (the menu, the last window, the desktop, a
    // signal) reaches the application as a quit event.
    QCoreApplication::instance()->installEventFilter(this);
}

UpgradeController::~UpgradeController() = default;

void UpgradeController::upgradeFirmware(const QString &syspath)
{
    if (upgradeInProgress() || !m_findDevice(syspath))
        return;
    m_device = syspath;
    auto *dialog = new FirmwareFileDialog(m_window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Queued: the dialog is gone before the confirmation shows.
    connect(dialog, &QFileDialog::fileSelected, this, &UpgradeController::confirmUpgrade, Qt::QueuedConnection);
    dialog->open();
}

void UpgradeController::confirmUpgrade(const QString &filePath)
{
    // The list may have changed while the dialog was open: the dock picked
    // is asked about as it is now, and when it is gone the flow ends.
    const std::optional<DeviceRecord> record = m_findDevice(m_device);
    if (upgradeInProgress() || !record)
        return;
    QMessageBox alert;
    alert.setWindowTitle(QStringLiteral("Quorvale"));
    alert.setText(Ui::ConfirmFirmwareUpgrade.text());
    alert.setInformativeText(confirmationText(*record, QFileInfo(filePath).fileName()));
    QPushButton *confirm = alert.addButton(Ui::ConfirmUpgrade.text(), QMessageBox::AcceptRole);
    alert.addButton(Ui::Cancel.text(), QMessageBox::RejectRole);
    alert.setDefaultButton(confirm);
    alert.exec();
    // Unplugged while the question was up: nothing to flash.
    if (alert.clickedButton() != confirm || !m_findDevice(m_device)) {
        if (m_window && m_window->isVisible())
            presentWindow(m_window); // the keyboard goes back to the table
        return;
    }
    logLine(QStringLiteral("Starting firmware upgrade for %1 %2 with file: %3")
                .arg(nameOrUnknown(record->vendor), nameOrUnknown(record->product), filePath));
    performFirmwareUpgradeWithFilePath(filePath);
}

bool UpgradeController::holdToolForQuery()
{
    return !upgradeInProgress() && m_queryLock.tryShared();
}

void UpgradeController::performFirmwareUpgradeWithFilePath(const QString &filePath)
{
    if (upgradeInProgress())
        return;
    // Two tools flashing one dock would corrupt it, also from two copies of the program.
    if (!m_toolLock.tryExclusive()) {
        logLine(QStringLiteral("[Upgrade] Another upgrade or version query is using the firmware tool")
                + (m_toolLock.error().isEmpty() ? QString() : QStringLiteral(": ") + m_toolLock.error()));
        runAlert(Ui::UpgradeFailed.text(), Ui::UpgradeBusy.text());
        return;
    }
    // Shown before the run can report, so the report always finds it.
    progressWindow = std::make_unique<UpgradeProgressWindow>();
    presentWindow(progressWindow.get());
    m_upgrade = std::make_unique<UpgradeRun>(findFirmwareTool(m_tools), filePath,
                                             std::chrono::seconds(storedUpgradeTimeoutSeconds(m_settingsPath)),
                                             upgradeVerdictMessage);
    // A suspend or shutdown in the middle of a flash could leave the dock without firmware.
    m_sleepInhibitor->acquire();
    // Queued, so the run is never deleted from inside its own signal.
    connect(m_upgrade.get(), &UpgradeRun::finished, this, &UpgradeController::runEnded, Qt::QueuedConnection);
    m_upgrade->start();
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
    if (report.launched)
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
    // Without a window manager nothing else would give the main window back
    // the keyboard once the progress window and the alert are gone. A main
    // window the user closed stays closed.
    if (m_window && m_window->isVisible())
        presentWindow(m_window);
}
