#include "app/appdelegate.h"

#include "app/aboutfacts.h"
#include "app/upgradecontroller.h"
#include "flash/interruptedflashes.h"
#include "history/historystore.h"
#include "core/log.h"
#include "settings/preferencesvalue.h"
#include "text/devicetexts.h"
#include "text/upgradetexts.h"
#include "tool/toolwatch.h"
#include "tool/versionquery.h"
#include "ui/historywindow.h"
#include "ui/aboutwindow.h"
#include "ui/mainwindow.h"
#include "ui/preferenceswindow.h"
#include "ui/presentwindow.h"

#include <QApplication>
#include <QClipboard>

namespace {
// While an application-modal alert or a menu is open the list stays as shown.
bool modalUiOpen()
{
    const QWidget *modal = QApplication::activeModalWidget();
    return (modal && modal->windowModality() == Qt::ApplicationModal) || QApplication::activePopupWidget();
}
} // namespace

AppDelegate::AppDelegate(std::unique_ptr<UsbDeviceSource> usbSource, AppFiles files, ToolDirectories tools,
                         DeviceMonitor::VersionQuery versionQuery, QObject *parent)
    : QObject(parent)
    , m_settingsPath(std::move(files.settings))
    , m_tools(tools)
{
    // The query's tool holds the query's share of the tool lock.
    if (!versionQuery)
        versionQuery = [this, tools] {
            return queryFirmwareVersionSync(findFirmwareTool(tools), {m_upgrades->queryLockDescriptor()});
        };
    m_history = std::make_unique<HistoryStore>(files.history.isNull() ? HistoryStore::defaultPath() : files.history);
    m_monitor = std::make_unique<DeviceMonitor>(std::move(usbSource), std::move(versionQuery));
    FlashSetup setup;
    setup.tools = tools;
    setup.docks = {[this] { return m_monitor->devices(); }, [this] { return m_monitor->lookAgain(); }};
    setup.lockPath = files.toolLock.isNull() ? ToolLock::defaultPath() : files.toolLock;
    setup.history = m_history.get();
    m_upgrades = std::make_unique<UpgradeController>(m_settingsPath, setup);
    m_interrupted = std::make_unique<InterruptedFlashes>(m_history.get(), setup.lockPath);
    m_toolWatch = std::make_unique<FirmwareToolWatch>(tools);

    m_monitor->setFrozen(modalUiOpen);
    // The tool is busy flashing, here or in another copy of the program (the
    // tool of an upgrade on record among them): the version is read once the
    // tool is free.
    m_monitor->setQueryAllowed([this] { return m_upgrades->holdToolForQuery(); });
    connect(m_monitor.get(), &DeviceMonitor::versionQueryEnded, m_upgrades.get(),
            &UpgradeController::releaseToolAfterQuery);
    // Queued: what it tells goes in an alert, not inside the scan that read it.
    connect(m_monitor.get(), &DeviceMonitor::versionRead, m_upgrades.get(), &UpgradeController::versionRead,
            Qt::QueuedConnection);
    // Queued: told once the window is up and the first scan has listed the docks.
    connect(m_interrupted.get(), &InterruptedFlashes::found, this,
            [this](const QList<FlashRecord> &rows) { m_upgrades->reportInterrupted(rows, m_monitor->devices()); },
            Qt::QueuedConnection);
    // The dock may run new firmware now: read its version again.
    connect(m_upgrades.get(), &UpgradeController::upgradeEnded, m_monitor.get(), &DeviceMonitor::forgetVersion);
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &AppDelegate::applicationWillTerminate);
}

AppDelegate::~AppDelegate()
{
    applicationWillTerminate();
    window.reset(); // the table reads the monitor's list until the window is gone
    m_historyWindow.reset(); // its query goes before the store's connection
}

void AppDelegate::applicationDidFinishLaunching()
{
    window = std::make_unique<MainWindow>(m_monitor->devices());
    connect(m_monitor.get(), &DeviceMonitor::devicesChanged, window.get(), &MainWindow::reloadData);
    connect(window.get(), &MainWindow::aboutRequested, this, &AppDelegate::openAbout);
    connect(window.get(), &MainWindow::preferencesRequested, this, &AppDelegate::openPreferences);
    connect(window.get(), &MainWindow::historyRequested, this, &AppDelegate::openHistory);
    connect(window.get(), &MainWindow::copyRequested, this, &AppDelegate::copyDeviceInfo);
    connect(window.get(), &MainWindow::readVersionRequested, m_monitor.get(), &DeviceMonitor::readVersionAgain);
    // A missing tool is said where the user looks, and read from once it is there.
    window->setToolProblem(toolProblemText(m_toolWatch->tool(), m_tools));
    connect(m_toolWatch.get(), &FirmwareToolWatch::changed, this, [this] {
        window->setToolProblem(toolProblemText(m_toolWatch->tool(), m_tools));
        if (m_toolWatch->tool().state == FirmwareTool::State::Found)
            m_monitor->readVersionAgain();
    });
    connect(window.get(), &MainWindow::upgradeRequested, this, &AppDelegate::upgradeFirmware);
    // Two tools flashing one dock at once would corrupt its firmware.
    window->setUpgradeAllowed([this] { return !m_upgrades->upgradeInProgress(); });
    // Closing the main window during a flash asks to quit, as Ctrl+Q does;
    // otherwise the progress window alone would keep the program running.
    connect(window.get(), &MainWindow::closeRequested, this, [this] {
        if (m_upgrades->upgradeInProgress())
            QCoreApplication::quit();
    });
    m_upgrades->setMainWindow(window.get());
    presentWindow(window.get());
    // Before the first scan: a tool still flashing must keep it from reading.
    m_interrupted->start();
    m_monitor->startUSBMonitoring();
}

void AppDelegate::applicationWillTerminate()
{
    m_monitor->stopUSBMonitoring();
}

std::optional<DeviceRecord> AppDelegate::selectedRecord() const
{
    const qint64 row = window ? window->menuRow() : -1;
    const DeviceList &data = m_monitor->devices();
    if (row < 0 || row >= data.size())
        return std::nullopt;
    return data.at(row);
}

void AppDelegate::copyDeviceInfo()
{
    const std::optional<DeviceRecord> record = selectedRecord();
    if (!record)
        return;
    const QString text = deviceInfoText(*record);
    QGuiApplication::clipboard()->setText(text);
    logLine(QStringLiteral("Device info copied to clipboard: ") + text);
}

void AppDelegate::upgradeFirmware()
{
    if (const std::optional<DeviceRecord> record = selectedRecord())
        m_upgrades->upgradeFirmware(*record);
}

void AppDelegate::giveBackKeyboard()
{
    if (window)
        window->takeKeyboard();
}

// Built once; closing it only hides it.
void AppDelegate::openAbout()
{
    if (!m_about) {
        m_about = std::make_unique<AboutWindow>(aboutFacts(m_tools, m_settingsPath, m_history->path()));
        connect(m_about.get(), &QDialog::finished, this, &AppDelegate::giveBackKeyboard);
    }
    presentWindow(m_about.get());
}

// Built once; closing it with its button or Escape only hides it, so text
// typed and not saved is still there when it is opened again.
void AppDelegate::openPreferences()
{
    if (!preferencesWindow) {
        preferencesWindow = std::make_unique<PreferencesWindow>(storedUpgradeTimeoutSeconds(m_settingsPath));
        // Queued: saving deletes the window, and with it the button that was clicked.
        connect(preferencesWindow.get(), &PreferencesWindow::timeoutChosen, this, &AppDelegate::savePreferences,
                Qt::QueuedConnection);
        connect(preferencesWindow.get(), &PreferencesWindow::closed, this, &AppDelegate::giveBackKeyboard);
    }
    presentWindow(preferencesWindow.get());
}

// Built once and read again at each opening, for the upgrades since.
void AppDelegate::openHistory()
{
    if (!m_historyWindow) {
        m_historyWindow = std::make_unique<HistoryWindow>(m_history->connectionName(), HistoryStore::windowSelect());
        connect(m_historyWindow.get(), &HistoryWindow::closed, this, &AppDelegate::giveBackKeyboard);
    } else {
        m_historyWindow->reload();
    }
    presentWindow(m_historyWindow.get());
}

// The window goes only once the value is on disk; otherwise it stays, with
// the text as typed, so that the value is not lost without a word.
void AppDelegate::savePreferences(int seconds)
{
    if (const std::optional<QString> failure = saveTimeoutSeconds(m_settingsPath, seconds)) {
        logLine(QStringLiteral("Failed to save preferences: ") + *failure);
        return;
    }
    preferencesWindow->close();
    preferencesWindow.reset();
}
