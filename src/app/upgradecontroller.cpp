#include "app/upgradecontroller.h"

#include "core/log.h"
#include "core/printable.h"
#include "history/historystore.h"
#include "settings/imagefolder.h"
#include "settings/preferencesvalue.h"
#include "text/devicetexts.h"
#include "text/uitext.h"
#include "text/upgradetexts.h"
#include "tool/imagefile.h"
#include "ui/firmwarefiledialog.h"
#include "ui/mainwindow.h"
#include "ui/presentwindow.h"
#include "ui/upgradeprogresswindow.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

UpgradeController::UpgradeController(QString settingsPath, FlashSetup setup, QObject *parent)
    : QObject(parent)
    , m_settingsPath(std::move(settingsPath))
    , m_setup(std::move(setup))
    , m_queryLock(m_setup.lockPath)
{
    // Every way of quitting (the menu, the last window, the desktop, a
    // signal) reaches the application as a quit event.
    QCoreApplication::instance()->installEventFilter(this);
}

UpgradeController::~UpgradeController() = default;

void UpgradeController::upgradeFirmware(const DeviceRecord &dock)
{
    if (upgradeInProgress())
        return;
    m_dock = dock;
    if (!chosenDockListedAlone())
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
bool UpgradeController::chosenDockListedAlone()
{
    switch (chooseDock(m_setup.docks.listed(), m_dock)) {
    case DockChoice::Alone:
        return true;
    case DockChoice::Gone:
        return false;
    case DockChoice::NotAlone:
        break;
    }
    logLine(QStringLiteral("[Upgrade] More than one dock is connected; the firmware tool cannot tell them apart"));
    runAlert(Ui::UpgradeFailed.text(), Ui::MoreThanOneDock.text());
    return false;
}

void UpgradeController::confirmUpgrade(const QString &filePath)
{
    // The list may have changed while the dialog was open: the dock picked
    // is asked about as it is now, and when it is gone the flow ends.
    if (upgradeInProgress() || !chosenDockListedAlone())
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
        logLine(QStringLiteral("[Sync] Version query waits: ") + describeLockRefusal(holder, m_queryLock.error()));
    }
    return false;
}

void UpgradeController::performFirmwareUpgradeWithFilePath(const QString &filePath)
{
    if (upgradeInProgress())
        return;
    m_job = std::make_unique<FlashJob>(m_setup, m_dock, filePath,
                                       std::chrono::seconds(storedUpgradeTimeoutSeconds(m_settingsPath)));
    if (!m_job->start()) { // refused before anything began
        const FlashOutcome outcome = m_job->outcome();
        m_job.reset();
        if (outcome.headline.isEmpty())
            giveBackKeyboard();
        else
            runAlert(outcome.headline, outcome.message, outcome.details);
        return;
    }
    // Queued, so the job is never deleted from inside its own signal.
    connect(m_job.get(), &FlashJob::finished, this, &UpgradeController::runEnded, Qt::QueuedConnection);
    progressWindow = std::make_unique<UpgradeProgressWindow>();
    presentWindow(progressWindow.get());
}

void UpgradeController::runEnded()
{
    const FlashOutcome outcome = m_job->outcome();
    m_job.reset();
    // The dock may run new firmware now: its version, read again, completes the record.
    if (outcome.kind == FlashOutcome::Kind::Ran)
        m_versionAfterFor = outcome.historyId;
    emit upgradeEnded();
    closeProgressWindow();
    if (m_quitAfterUpgrade) {
        QCoreApplication::quit();
        return;
    }
    if (outcome.headline.isEmpty())
        giveBackKeyboard();
    else
        runAlert(outcome.headline, outcome.message, outcome.details, outcome.report.logPath);
}

void UpgradeController::versionRead(const QString &version)
{
    if (const std::optional<qint64> id = std::exchange(m_versionAfterFor, std::nullopt); id && m_setup.history)
        m_setup.history->setVersionAfter(*id, version);
    if (!m_interrupted.isEmpty())
        tellInterrupted(version);
}

void UpgradeController::reportInterrupted(const QList<FlashRecord> &rows, const DeviceList &docks)
{
    m_interrupted = rows;
    // No dock to read from, or its version read already (the first scan's
    // query may have ended before this): told now; else at the next read.
    if (docks.isEmpty())
        tellInterrupted({});
    else if (docks.first().fwversion != QLatin1String(VersionUnknown))
        tellInterrupted(docks.first().fwversion);
}

// One alert for each upgrade cut short, with the version the dock reports
// now; the same words go on its record.
void UpgradeController::tellInterrupted(const QString &version)
{
    for (const FlashRecord &row : std::exchange(m_interrupted, {})) {
        const QString dock = nameOrUnknown(row.manufacturer) + QLatin1Char(' ') + nameOrUnknown(row.product);
        const QString started = row.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm"));
        const QStringList values{dock, QFileInfo(row.imagePath).fileName(), started, version};
        const QString text = withoutControlCharacters(
            fillPlaceholders(version.isEmpty() ? Ui::InterruptedUnread.text() : Ui::InterruptedRead.text(), values), u"\n");
        if (m_setup.history && !m_setup.history->markInterrupted(row.id, QDateTime::currentDateTimeUtc(), text))
            continue; // another copy of the program told of it first
        if (m_setup.history && !version.isEmpty())
            m_setup.history->setVersionAfter(row.id, version);
        logLine(QStringLiteral("[Upgrade] An upgrade started %1 did not end while Quorvale ran; the dock now reports: %2")
                    .arg(row.started.toString(Qt::ISODateWithMs), version.isEmpty() ? QStringLiteral("nothing") : version));
        runAlert(Ui::UpgradeInterrupted.text(), text);
    }
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

void UpgradeController::runAlert(const QString &headline, const QString &text, const QString &details,
                                 const QString &log)
{
    QMessageBox alert;
    alert.setWindowTitle(QStringLiteral("Quorvale"));
    alert.setText(headline);
    alert.setInformativeText(text);
    alert.setDetailedText(details);
    // Details hold a tool's lines and a log's path: room for them to read
    // without wrapping every few words.
    if (auto *grid = qobject_cast<QGridLayout *>(alert.layout()); grid && !details.isEmpty())
        grid->addItem(new QSpacerItem(480, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    QPushButton *ok = alert.addButton(Ui::Ok.text(), QMessageBox::AcceptRole);
    QPushButton *openLog = !log.isEmpty() && QFileInfo(log).isFile()
        ? alert.addButton(Ui::OpenLog.text(), QMessageBox::ActionRole) : nullptr;
    alert.setDefaultButton(ok);
    alert.exec();
    if (openLog && alert.clickedButton() == openLog)
        QDesktopServices::openUrl(QUrl::fromLocalFile(log));
    giveBackKeyboard();
}

// Without a window manager nothing else would give the main window back the
// keyboard once a dialog, the progress window or an alert is gone. A main
// window the user closed stays closed.
void UpgradeController::giveBackKeyboard()
{
    if (m_window)
        m_window->takeKeyboard();
}
