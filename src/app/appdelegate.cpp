#include "app/appdelegate.h"

#include "app/devicetablemodel.h"
#include "app/sleepinhibitor.h"
#include "core/geometry.h"
#include "core/log.h"
#include "devices/devicelist.h"
#include "text/uitext.h"
#include "tool/upgraderun.h"
#include "tool/versionquery.h"
#include "ui/devicetexts.h"
#include "ui/firmwarefiledialog.h"
#include "ui/preferencesvalue.h"
#include "ui/preferenceswindow.h"
#include "ui/presentwindow.h"
#include "ui/upgradeprogresswindow.h"

#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStyledItemDelegate>
#include <QTimer>

#include <cmath>

namespace {
// Rows are picked, never cells: no frame around the "current" cell.
class RowItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->state &= ~QStyle::State_HasFocus;
    }
};
} // namespace

AppDelegate::AppDelegate(std::unique_ptr<UsbDeviceSource> usbSource, ToolDirectories toolDirectories,
                         VersionQuery versionQuery, QObject *parent)
    : QObject(parent)
    , m_usbSource(std::move(usbSource))
    , m_toolDirectories(std::move(toolDirectories))
    , m_versionQuery(versionQuery ? std::move(versionQuery)
                                  : VersionQuery([](const FirmwareTool &tool) { return ::queryFirmwareVersionSync(tool); }))
{
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &AppDelegate::applicationWillTerminate);
    // Every way of quitting (the menu, the last window, the desktop) reaches
    // the application as a quit event; one during an upgrade waits for its end.
    QCoreApplication::instance()->installEventFilter(this);
    m_sleepInhibitor = new SleepInhibitor(this);
}

AppDelegate::~AppDelegate()
{
    stopUSBMonitoring();
    window.reset(); // the table model reads data until the window is gone
}

void AppDelegate::applicationDidFinishLaunching()
{
    buildMainWindow();
    data = DeviceList();
    selectedRow = -1;
    fwQueried = false;
    presentWindow(window.get());
    buildMenuBar();
    startUSBMonitoring();
}

void AppDelegate::buildMainWindow()
{
    window = std::make_unique<QMainWindow>();
    window->setWindowTitle(QStringLiteral("Quorvale"));
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    window->setGeometry(frameFromBottomLeft(available, 100, 100, 600, 400));

    auto *table = new MyTableView(window.get());
    const QStringList headers{Ui::Vendor.text(), Ui::Product.text(), Ui::FWVersion.text()};
    m_model = new DeviceTableModel(data, headers, table);
    table->setModel(m_model);
    for (int column = 0; column < DeviceColumnCount; ++column)
        table->setColumnWidth(column, 150);
    table->horizontalHeader()->setStretchLastSection(false);
    table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    table->verticalHeader()->hide();
    table->setAlternatingRowColors(true);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setShowGrid(false);
    table->setWordWrap(false);
    table->setItemDelegate(new RowItemDelegate(table));
    table->setMenuDelegate(this);
    table->setAccessibleName(Ui::Docks.text());
    window->setCentralWidget(table);
    // Keyboard users start in the table: arrows highlight a row, the menu key opens its menu.
    table->setFocus();
    tableView = table;
}

void AppDelegate::buildMenuBar()
{
    QMenu *menu = window->menuBar()->addMenu(QStringLiteral("Application"));

    QAction *preferences = menu->addAction(Ui::Preferences.text());
    preferences->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    preferences->setShortcutContext(Qt::ApplicationShortcut);
    connect(preferences, &QAction::triggered, this, &AppDelegate::openPreferences);

    menu->addSeparator();

    const QStringList arguments = QCoreApplication::arguments();
    const QString processName = arguments.isEmpty() ? QString() : QFileInfo(arguments.first()).fileName();
    QAction *quit = menu->addAction(Ui::Quit.arg(processName));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setShortcutContext(Qt::ApplicationShortcut);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

void AppDelegate::applicationWillTerminate()
{
    stopUSBMonitoring();
}

void AppDelegate::startUSBMonitoring()
{
    scanUSBDevices();
    usbMonitorTimer = std::make_unique<QTimer>();
    usbMonitorTimer->setInterval(1000);
    connect(usbMonitorTimer.get(), &QTimer::timeout, this, &AppDelegate::monitorTick);
    usbMonitorTimer->start();
}

void AppDelegate::stopUSBMonitoring()
{
    usbMonitorTimer.reset();
}

void AppDelegate::monitorTick()
{
    // The list stays frozen while an application-modal alert or a menu is open.
    const QWidget *modal = QApplication::activeModalWidget();
    if ((modal && modal->windowModality() == Qt::ApplicationModal) || QApplication::activePopupWidget())
        return;
    // The scan runs after this handler has returned: a version query waits
    // inside its scan, and the timer only fires again once its handler is
    // done, so ticks keep coming during the query and their scans run nested
    // in its wait. Ticks that fall due while a scan is queued add nothing.
    if (m_scanQueued)
        return;
    m_scanQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_scanQueued = false;
            if (usbMonitorTimer)
                scanUSBDevices();
        },
        Qt::QueuedConnection);
}

void AppDelegate::scanUSBDevices()
{
    const UsbEnumeration found = m_usbSource->enumerate();
    if (!found.ok()) {
        logLine(found.failure);
        return;
    }
    const DeviceList scanned = buildDeviceList(found.devices, data);
    data = scanned;
    if (m_model)
        m_model->reloadData();
    runVersionStep(scanned);
}

// Reads the firmware version once each time docks appear after a scan that
// listed none. The query waits in a nested event loop where monitoring ticks
// still fire, so scans may run inside it: the flag, set first, keeps them from
// starting a second query, and the result goes into whatever list is current
// when the query returns.
void AppDelegate::runVersionStep(const DeviceList &scanned)
{
    if (scanned.isEmpty()) {
        fwQueried = false;
        return;
    }
    // The tool is busy flashing: the version is read once the upgrade has ended.
    if (fwQueried || upgradeInProgress())
        return;
    fwQueried = true;
    const std::optional<QString> version = queryFirmwareVersionSync();
    if (!version || version->isEmpty())
        return;
    for (DeviceRecord &record : data)
        record.fwversion = *version;
    if (m_model)
        m_model->reloadData();
}

std::optional<QString> AppDelegate::queryFirmwareVersionSync()
{
    return m_versionQuery(findFirmwareTool(m_toolDirectories));
}

// Built once; closing it with its button only hides it, so text typed and not
// saved is still there when it is opened again.
void AppDelegate::openPreferences()
{
    if (!preferencesWindow) {
        const std::optional<double> stored = storedTimeoutSeconds(QSettings().value(UpgradeTimeoutKey));
        const double shown = stored.value_or(DefaultUpgradeTimeoutSeconds);
        PreferencesWindow built = buildPreferencesWindow(formatTimeoutForField(shown));
        timeoutField = built.field;
        // Queued: saving deletes the window, and with it the button that was clicked.
        connect(built.save, &QPushButton::clicked, this, &AppDelegate::savePreferences, Qt::QueuedConnection);
        preferencesWindow = std::move(built.window);
    }
    presentWindow(preferencesWindow.get());
}

// The window goes only once the value is on disk; otherwise it stays, with
// the text as typed, so that the value is not lost without a word.
void AppDelegate::savePreferences()
{
    if (!timeoutField)
        return;
    if (const std::optional<QString> failure = saveTimeoutSeconds(parseDoubleValue(timeoutField->text()))) {
        logLine(QStringLiteral("Failed to save preferences: ") + *failure);
        return;
    }
    if (preferencesWindow)
        preferencesWindow->close();
    preferencesWindow.reset();
}

QMenu *AppDelegate::tableViewMenuForEvent(MyTableView *table, const QPoint &globalPos)
{
    const int row = table->rowAt(table->viewport()->mapFromGlobal(globalPos).y());
    if (row < 0 || row >= data.size())
        return nullptr;
    selectedRow = row;
    auto *menu = new QMenu(table);
    menu->addAction(Ui::CopyDeviceInfo.text(), this, &AppDelegate::copyDeviceInfo);
    menu->addSeparator();
    QAction *upgrade = menu->addAction(Ui::UpgradeFirmware.text(), this, &AppDelegate::upgradeFirmware);
    // Two tools flashing one dock at once would corrupt its firmware.
    upgrade->setEnabled(!upgradeInProgress());
    return menu;
}

void AppDelegate::copyDeviceInfo()
{
    if (selectedRow < 0 || selectedRow >= data.size())
        return;
    const QString text = deviceInfoText(data.at(selectedRow));
    QGuiApplication::clipboard()->setText(text);
    logLine(QStringLiteral("Device info copied to clipboard: ") + text);
}

void AppDelegate::upgradeFirmware()
{
    if (upgradeInProgress() || selectedRow < 0 || selectedRow >= data.size())
        return;
    auto *dialog = new FirmwareFileDialog(window.get());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Queued: the dialog is gone before the confirmation shows.
    connect(dialog, &QFileDialog::fileSelected, this, &AppDelegate::confirmUpgrade, Qt::QueuedConnection);
    dialog->open();
}

void AppDelegate::confirmUpgrade(const QString &filePath)
{
    // The list may have changed while the dialog was open: the record is the
    // one at the selected row now, and with no record there the flow ends.
    if (upgradeInProgress() || selectedRow < 0 || selectedRow >= data.size())
        return;
    const DeviceRecord record = data.at(selectedRow);
    QMessageBox alert;
    alert.setWindowTitle(QStringLiteral("Quorvale"));
    alert.setText(Ui::ConfirmFirmwareUpgrade.text());
    alert.setInformativeText(confirmationText(record, QFileInfo(filePath).fileName()));
    QPushButton *confirm = alert.addButton(Ui::ConfirmUpgrade.text(), QMessageBox::AcceptRole);
    alert.addButton(Ui::Cancel.text(), QMessageBox::RejectRole);
    alert.setDefaultButton(confirm);
    alert.exec();
    if (alert.clickedButton() != confirm) {
        if (window)
            presentWindow(window.get()); // the keyboard goes back to the table
        return;
    }
    logLine(QStringLiteral("Starting firmware upgrade for %1 %2 with file: %3")
                .arg(nameOrUnknown(record.vendor), nameOrUnknown(record.product), filePath));
    performFirmwareUpgradeWithFilePath(filePath);
}

void AppDelegate::performFirmwareUpgradeWithFilePath(const QString &filePath)
{
    if (upgradeInProgress())
        return;
    // Shown before the run can report, so the report always finds it.
    progressWindow = std::make_unique<UpgradeProgressWindow>();
    presentWindow(progressWindow.get());
    const double timeout = upgradeTimeoutForRun(QSettings().value(UpgradeTimeoutKey));
    const qint64 seconds = std::isfinite(timeout) && timeout > 0 ? std::llround(std::min(timeout, 1e9)) : 0;
    m_upgrade = std::make_unique<UpgradeRun>(findFirmwareTool(m_toolDirectories), filePath, std::chrono::seconds(seconds));
    // A suspend or shutdown in the middle of a flash could leave the dock without firmware.
    m_sleepInhibitor->acquire();
    // Queued, so the run is never deleted from inside its own signal.
    connect(m_upgrade.get(), &UpgradeRun::finished, this, &AppDelegate::upgradeEnded, Qt::QueuedConnection);
    m_upgrade->start();
}

void AppDelegate::upgradeEnded()
{
    const UpgradeReport report = m_upgrade->report();
    m_upgrade.reset();
    m_sleepInhibitor->release();
    // The dock may run new firmware now: read its version again.
    fwQueried = false;
    if (m_quitAfterUpgrade) {
        closeProgressWindow();
        QCoreApplication::quit();
        return;
    }
    if (report.launched)
        reportUpgradeResult(report.outcome);
    else
        reportLaunchFailure(report.launchError);
}

bool AppDelegate::eventFilter(QObject *watched, QEvent *event)
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

void AppDelegate::closeProgressWindow()
{
    if (progressWindow)
        progressWindow->close();
}

void AppDelegate::runAlert(const QString &headline, const QString &text)
{
    QMessageBox alert;
    alert.setWindowTitle(QStringLiteral("Quorvale"));
    alert.setText(headline);
    alert.setInformativeText(text);
    alert.addButton(Ui::Ok.text(), QMessageBox::AcceptRole);
    alert.exec();
    // Without a window manager nothing else would give the main window back
    // the keyboard once the progress window and the alert are gone.
    if (window)
        presentWindow(window.get());
}

void AppDelegate::reportUpgradeResult(const UpgradeOutcome &outcome)
{
    closeProgressWindow();
    runAlert(outcome.success ? Ui::UpgradeSuccess.text() : Ui::UpgradeFailed.text(), outcome.message);
}

void AppDelegate::reportLaunchFailure(const QString &error)
{
    closeProgressWindow();
    runAlert(Ui::UpgradeFailed.text(), Ui::FailedToLaunch.arg(error));
}
