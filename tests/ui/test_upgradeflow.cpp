#include "guitest.h"
#include "history/historystore.h"
#include "logcapture.h"
#include "settings/preferencesvalue.h"
#include "tool/toollock.h"
#include "ui/firmwarefiledialog.h"
#include "ui/upgradeprogresswindow.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QDesktopServices>
#include <QDir>
#include <QUrl>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>

namespace {
// Stands in for the desktop's viewer: what it was asked to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

// Types a path into the dialog's file name field and accepts it, as a person would.
void choose(FirmwareFileDialog *dialog, const QString &path)
{
    auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(path);
    dialog->accept();
}

// Asks for an upgrade of the selected row; returns the file dialog it opened.
FirmwareFileDialog *openDialog(AppDelegate *d)
{
    d->upgradeFirmware();
    QCoreApplication::processEvents();
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *dialog = qobject_cast<FirmwareFileDialog *>(widget); dialog && dialog->isVisible())
            return dialog;
    return nullptr;
}

// A controller whose tool is the simulator, a dock listed, and a valid image
// and a corrupt one at fw/dock.bin and fw/bad.bin.
struct Fixture : ::testing::Test {
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid() && QDir(dir.path()).mkpath(QStringLiteral("fw")));
        qputenv("TALVEX_SIM_PACE_MS", "1");
        qputenv("TALVEX_SIM_STATE", dir.filePath(QStringLiteral("state")).toLocal8Bit());
        qunsetenv("TALVEX_SIM_MISBEHAVE");
        for (const QStringList &extra : {QStringList{image("dock.bin")}, QStringList{image("bad.bin"), "--corrupt"}})
            ASSERT_EQ(QProcess::execute(MAKE_FIRMWARE_IMAGE_PATH, QStringList{"--version", "2.1.0", "--out"} + extra), 0);
        launch(1, simulatorBeside());
        rightClickRow(*app, 0);
    }
    static ToolDirectories simulatorBeside() { return {QFileInfo(QStringLiteral(TALVEX_SIMULATOR_PATH)).path(), {}}; }
    void launch(int docks, ToolDirectories tools)
    {
        app = std::make_unique<LaunchedApp>(docks, std::move(tools));
        d = app->delegate.get();
    }
    UpgradeController &upgrades() const { return d->upgrades(); }
    // The confirmed hand-off of an image for the listed dock, as if picked
    // and confirmed a moment ago.
    void flash(const char *file)
    {
        upgrades().upgradeFirmware(app->monitor().devices().at(0));
        QCoreApplication::processEvents();
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *dialog = qobject_cast<FirmwareFileDialog *>(widget))
                dialog->reject();
        upgrades().performFirmwareUpgradeWithFilePath(image(file));
    }
    void storeTimeout(const char *value)
    {
        QSettings(app->settingsFile(), QSettings::NativeFormat).setValue(UpgradeTimeoutKey, value);
    }
    QString image(const char *name) const { return dir.filePath(QStringLiteral("fw/") + QLatin1String(name)); }
    bool upgradeEnabledInMenu()
    {
        MyTableView *table = app->table();
        const std::unique_ptr<QMenu> menu(
            d->mainWindow()->tableViewMenuForEvent(table, table->viewport()->mapToGlobal(rowCenter(*app, 0))));
        return menu && menu->actions().last()->isEnabled();
    }

    QTemporaryDir dir;
    std::unique_ptr<LaunchedApp> app;
    AppDelegate *d = nullptr;
};

TEST_F(Fixture, NoDialogWithoutADock)
{
    DeviceRecord gone;
    gone.syspath = QStringLiteral("/sys/bus/usb/devices/9-9");
    upgrades().upgradeFirmware(gone);
    QCoreApplication::processEvents();
    launch(1, {}); // no row's menu opened yet
    EXPECT_EQ(openDialog(d), nullptr);
}

TEST_F(Fixture, CancelledDialogOrAlertStartsNothing)
{
    LogCapture log;
    FirmwareFileDialog *dialog = openDialog(d);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), expectedText("Select Firmware File", "选择固件文件"));
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    const auto *message = dialog->findChild<QLabel *>(QStringLiteral("firmwareFileMessage"));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->text(), expectedText("Please select a .bin firmware file", "请选择一个 .bin 固件文件"));
    EXPECT_TRUE(message->isVisible());
    dialog->reject();

    ASSERT_NE(dialog = openDialog(d), nullptr);
    AlertAnswer cancel(1);
    choose(dialog, image("dock.bin"));
    ASSERT_TRUE(serveUntil([&] { return cancel.seen(); }));
    EXPECT_EQ(cancel.headline, expectedText("Confirm Firmware Upgrade", "确认升级固件"));
    EXPECT_EQ(cancel.buttons, (QStringList{expectedText("Confirm Upgrade", "确认升级"), expectedText("Cancel", "取消")}));
    // The record shown is the one at the selected row; the file by its name only.
    EXPECT_EQ(cancel.text, expectedText("Device: Talvex Dock 0\n\nFile: dock.bin\n\nConfirm to start firmware upgrade?",
                                        "设备: Talvex Dock 0\n\n文件: dock.bin\n\n确认开始升级固件?"));
    EXPECT_FALSE(upgrades().upgradeInProgress());

    // The dock was unplugged while the dialog was open: the row now shows
    // another dock, and the flow ends without a word.
    ASSERT_NE(dialog = openDialog(d), nullptr);
    app->usb->setDocks(2);
    app->usb->next.devices.erase(app->usb->next.devices.begin());
    app->monitor().scanUSBDevices();
    AlertAnswer none(1);
    choose(dialog, image("dock.bin"));
    serveUntil([] { return false; }, 300);
    EXPECT_FALSE(none.seen());
    EXPECT_FALSE(upgrades().upgradeInProgress());
    EXPECT_TRUE(log.texts().filter(QRegularExpression(QStringLiteral("^(Starting|\\[Upgrade\\])"))).isEmpty());
}

// The dialog opens in the folder of the image picked last, kept in the
// settings file; in the home folder the first time, and when the kept
// folder is gone or is not one; never in the working directory.
TEST_F(Fixture, FileDialogStartsWhereTheLastImageWas)
{
    QTemporaryDir home, started;
    const QByteArray homeBefore = qgetenv("HOME");
    const QString workingBefore = QDir::currentPath();
    const auto restore = qScopeGuard([&] {
        qputenv("HOME", homeBefore);
        QDir::setCurrent(workingBefore);
    });
    qputenv("HOME", QFile::encodeName(home.path()));
    ASSERT_TRUE(QDir::setCurrent(started.path()));
    const auto startFolder = [&] {
        FirmwareFileDialog *dialog = openDialog(d);
        const QString folder = dialog ? dialog->directory().absolutePath() : QStringLiteral("<no dialog>");
        if (dialog)
            dialog->reject();
        return folder;
    };
    EXPECT_EQ(startFolder(), home.path());

    FirmwareFileDialog *dialog = openDialog(d);
    ASSERT_NE(dialog, nullptr);
    AlertAnswer cancel(1);
    choose(dialog, image("dock.bin"));
    ASSERT_TRUE(serveUntil([&] { return cancel.seen(); }));
    const QString images = dir.filePath(QStringLiteral("fw"));
    EXPECT_EQ(QSettings(app->settingsFile(), QSettings::NativeFormat).value(QStringLiteral("LastImageFolder")), images);
    EXPECT_EQ(startFolder(), images);

    const struct {
        const char *name;
        QString stored;
    } elsewhere[] = {{"a folder since removed", dir.filePath(QStringLiteral("gone"))},
                     {"a file", image("dock.bin")},
                     {"a relative path", QStringLiteral("fw")}};
    ASSERT_TRUE(QDir(started.path()).mkdir(QStringLiteral("fw")));
    for (const auto &c : elsewhere) {
        SCOPED_TRACE(c.name);
        QSettings(app->settingsFile(), QSettings::NativeFormat).setValue(QStringLiteral("LastImageFolder"), c.stored);
        EXPECT_EQ(startFolder(), home.path());
    }
}

TEST_F(Fixture, ConfirmedUpgradeRunsAloneAndReports)
{
    LogCapture log;
    const int queries = app->versionQueries;
    FirmwareFileDialog *dialog = openDialog(d);
    ASSERT_NE(dialog, nullptr);
    AlertAnswer confirm(0);
    choose(dialog, image("dock.bin"));
    ASSERT_TRUE(serveUntil([&] { return confirm.seen(); }));
    ASSERT_TRUE(upgrades().upgradeInProgress());
    ASSERT_TRUE(upgrades().currentProgressWindow() && upgrades().currentProgressWindow()->isVisible());
    // Said once the tool starts, with the file the user picked.
    const QString started = QStringLiteral("Starting firmware upgrade for Talvex Dock 0 with file: ") + image("dock.bin");
    ASSERT_TRUE(serveUntil([&] { return log.contains(started); }));

    // While it runs: no second upgrade, and no version query to share the dock.
    EXPECT_FALSE(upgradeEnabledInMenu());
    EXPECT_EQ(openDialog(d), nullptr);
    app->rescan(0);
    app->rescan(1);
    EXPECT_EQ(app->versionQueries, queries);
    EXPECT_FALSE(app->monitor().versionQueried());

    bool progressVisible = true;
    AlertAnswer result(0, [&] { progressVisible = upgrades().currentProgressWindow()->isVisible(); });
    EXPECT_TRUE(serveUntil([&] { return !upgrades().upgradeInProgress() && result.seen(); }));
    EXPECT_EQ(result.headline, expectedText("Upgrade Success", "升级成功"));
    EXPECT_EQ(result.text, expectedText("Firmware upgrade successful!", "固件升级成功！"));
    EXPECT_EQ(result.buttons, (QStringList{expectedText("OK", "确定"), expectedText("Open Log", "打开日志")}));
    EXPECT_TRUE(result.applicationModal);
    EXPECT_FALSE(progressVisible); // closed before the alert
    EXPECT_TRUE(log.contains(QStringLiteral("[Upgrade] Success: YES, Message: ") + result.text));
    EXPECT_TRUE(upgradeEnabledInMenu());

    // The version column is read again for the firmware now on the dock,
    // and that version completes the upgrade's record.
    app->answer = QStringLiteral("2.1.0");
    app->rescan(1);
    EXPECT_EQ(app->versionQueries, queries + 1);
    const QList<FlashRecord> rows = d->historyStore().recent();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_TRUE(serveUntil([&] { return !d->historyStore().recent().value(0).versionAfter.isEmpty(); }, 2000));
    EXPECT_EQ(d->historyStore().recent().value(0).versionAfter, QStringLiteral("2.1.0"));
    EXPECT_EQ(rows[0].result, FlashResult::Success);
}

// The stored timeout is the one the run applies, and 0 switches it off.
TEST_F(Fixture, RunsEndAsTheyWentAndApplyTheStoredTimeout)
{
    const QString abnormal = expectedText("Upgrade tool exited abnormally!", "升级工具异常退出！");
    // details: what the alert's details must begin with, where they show the
    // tool's lines; the status line that follows.
    const QString failure = expectedText("What the tool said went wrong:\n", "工具报告的问题：\n");
    const QString last = expectedText("The tool's last lines:\n", "工具输出的最后几行：\n");
    const struct {
        const char *name, *timeout, *paceMs, *file;
        QString headline, text, logged, details, status;
    } cases[] = {
        {"corrupt image", "600", "1", "bad.bin", expectedText("Upgrade Failed", "升级失败"), abnormal, {},
         failure + "Firmware update failed: payload CRC-32 mismatch", expectedText("Exit status: 1", "退出状态：1")},
        {"no tool", "600", "1", "dock.bin", expectedText("Upgrade Failed", "升级失败"),
         expectedText("Failed to launch upgrade tool: ", "无法启动升级工具: "), {},
         expectedText("Talvex_Firmware_Update is looked for in:\n", "Talvex_Firmware_Update 的查找位置：\n")
             + dir.filePath(QStringLiteral("none")), {}},
        {"silent past the stored limit", "1", "1500", "dock.bin", expectedText("Upgrade Failed", "升级失败"), abnormal,
         "[Upgrade] No output from firmware tool for 1 seconds; stopping it", last + "Scanning USB bus for 21C4:B070 ...",
         expectedText("Ended by signal 15", "被信号 15 终止")},
        {"no limit", "0", "1", "dock.bin", expectedText("Upgrade Success", "升级成功"), {}, {},
         last + "Writing block 7/8 (87%)\nWriting block 8/8 (100%)\nVerifying ...\nActivating new image ...\n"
             "Firmware update completed",
         expectedText("Exit status: 0", "退出状态：0")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (QLatin1String(c.name) == QLatin1String("no tool"))
            launch(1, {dir.filePath(QStringLiteral("none")), {}});
        else
            launch(1, simulatorBeside());
        ASSERT_TRUE(app->monitor().versionQueried());
        storeTimeout(c.timeout);
        qputenv("TALVEX_SIM_PACE_MS", c.paceMs);
        LogCapture log;
        AlertAnswer result(0);
        flash(c.file);
        EXPECT_TRUE(serveUntil([&] { return !upgrades().upgradeInProgress() && result.seen(); }));
        EXPECT_EQ(result.headline, c.headline);
        EXPECT_TRUE(result.text.startsWith(c.text)) << result.text.toStdString();
        EXPECT_FALSE(app->monitor().versionQueried());
        EXPECT_TRUE(c.logged.isEmpty() || log.contains(c.logged));
        // Details say why: the tool's lines that matter, how it ended, its log.
        EXPECT_TRUE(result.details.startsWith(c.details)) << result.details.toStdString();
        const QString saved = log.texts().filter(QStringLiteral("[Upgrade] Output saved to: ")).value(0).section(QStringLiteral("to: "), 1);
        if (!c.status.isEmpty()) {
            EXPECT_TRUE(result.details.endsWith("\n\n" + c.status + '\n' + expectedText("Saved log: ", "保存的日志：") + saved))
                << result.details.toStdString();
            EXPECT_EQ(result.buttons, (QStringList{expectedText("OK", "确定"), expectedText("Open Log", "打开日志")}));
        } else {
            EXPECT_EQ(result.buttons, QStringList{expectedText("OK", "确定")});
        }
    }
}

// "Open Log" opens the run's saved log with the desktop's viewer.
TEST_F(Fixture, OpenLogOpensTheSavedLog)
{
    UrlCatcher handler;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &handler, "open");
    LogCapture log;
    AlertAnswer result(1);
    flash("bad.bin");
    EXPECT_TRUE(serveUntil([&] { return !upgrades().upgradeInProgress() && result.seen(); }));
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    const QString saved = log.texts().filter(QStringLiteral("[Upgrade] Output saved to: ")).value(0).section(QStringLiteral("to: "), 1);
    EXPECT_EQ(handler.urls, QList<QUrl>{QUrl::fromLocalFile(saved)});
}

// Another copy of the program flashing a dock: no upgrade here, no version
// query either, until it has finished.
TEST_F(Fixture, AnotherCopyFlashingKeepsThisOneOffTheTool)
{
    LogCapture log;
    ToolLock other(app->files().toolLock);
    ASSERT_EQ(other.tryExclusive(), ToolLock::Result::Taken);
    AlertAnswer busy(0);
    flash("dock.bin");
    EXPECT_TRUE(busy.seen());
    EXPECT_FALSE(upgrades().upgradeInProgress());
    EXPECT_EQ(busy.headline, expectedText("Upgrade Failed", "升级失败"));
    // Held in this very process: no other process to name.
    EXPECT_TRUE(busy.text.startsWith(expectedText("Another Quorvale window", "另一个 Quorvale 窗口")));

    const int queries = app->versionQueries;
    app->rescan(0);
    app->rescan(1);
    app->rescan(0);
    app->rescan(1);
    EXPECT_EQ(app->versionQueries, queries);
    EXPECT_EQ(log.texts().filter(QStringLiteral("[Sync] Version query waits: another process is using the firmware tool")).size(), 1);
    other.release();
    app->rescan(1);
    EXPECT_EQ(app->versionQueries, queries + 1);
    // The query gave the tool back: an upgrade may start.
    EXPECT_EQ(other.tryExclusive(), ToolLock::Result::Taken);
    other.release();

    // Another process holds it: it is named; the lock cannot be had at all: the system says why.
    QProcess holder;
    holder.start(QStringLiteral("flock"), {QStringLiteral("--no-fork"), QStringLiteral("-s"), app->files().toolLock,
                                           QStringLiteral("sleep"), QStringLiteral("10")});
    ASSERT_TRUE(holder.waitForStarted() && serveUntil([&] { return other.tryExclusive() == ToolLock::Result::Busy || (other.release(), false); }));
    AlertAnswer named(0);
    flash("dock.bin");
    EXPECT_EQ(named.text, expectedText("The firmware tool is in use by process %1 (sleep), another copy of Quorvale or a tool it started. Try again when it has finished.",
                                       "固件工具正被 process %1 (sleep) 使用（另一个 Quorvale 或其启动的工具）。请在其完成后再试。").arg(holder.processId()));
    holder.kill();
    holder.waitForFinished();
    QFile::remove(app->files().toolLock);
    ASSERT_TRUE(QDir().mkpath(app->files().toolLock));
    AlertAnswer failed(0);
    flash("dock.bin");
    EXPECT_EQ(failed.text, expectedText("Quorvale cannot take the lock that keeps two firmware tools off the dock (%1 is not a regular file). No upgrade was started.",
                                        "Quorvale 无法获取防止两个固件工具同时访问扩展坞的锁（%1 is not a regular file）。未开始升级。").arg(app->files().toolLock));
    app->rescan(0);
    app->rescan(1);
    EXPECT_TRUE(log.contains(QStringLiteral("[Sync] Version query waits: cannot take the firmware tool lock: ") + app->files().toolLock + " is not a regular file"));
    // Nothing started, so nothing said it did.
    EXPECT_TRUE(log.texts().filter(QStringLiteral("Starting firmware upgrade")).isEmpty());
}

// A quit during a flash, or the main window closed, waits for the run to
// end, then quits without the alert.
TEST_F(Fixture, QuitWaitsForTheRun)
{
    qputenv("TALVEX_SIM_PACE_MS", "50");
    for (const bool byClosingTheWindow : {false, true}) {
        SCOPED_TRACE(byClosingTheWindow ? "window closed" : "quit");
        launch(1, simulatorBeside());
        LogCapture log;
        const AlertAnswer alert(0);
        QTimer::singleShot(0, [&] {
            flash("dock.bin");
            if (byClosingTheWindow)
                d->mainWindow()->close();
            else
                QCoreApplication::quit();
        });
        QTimer::singleShot(15000, [] { QCoreApplication::exit(1); });
        EXPECT_EQ(QApplication::exec(), 0);
        EXPECT_FALSE(upgrades().upgradeInProgress());
        EXPECT_FALSE(alert.seen());
        const QStringList lines = log.texts();
        const qsizetype quit = lines.indexOf(QStringLiteral("[Upgrade] Quit requested during a firmware upgrade; quitting when it ends"));
        const qsizetype saved = lines.indexOf(QRegularExpression(QStringLiteral("\\[Upgrade\\] Output saved to: .*")));
        EXPECT_TRUE(quit >= 0 && saved > quit) << lines.join(QLatin1Char('\n')).toStdString();
    }
}
// The tool flashes whichever dock of the model it finds first: with more
// than one connected, nothing starts, and the user is told why.
TEST_F(Fixture, MoreThanOneDockStartsNothing)
{
    launch(2, simulatorBeside());
    rightClickRow(*app, 1);
    AlertAnswer refused(0);
    EXPECT_EQ(openDialog(d), nullptr);
    ASSERT_TRUE(refused.seen());
    EXPECT_EQ(refused.headline, expectedText("Upgrade Failed", "升级失败"));
    EXPECT_EQ(refused.text, expectedText("More than one dock is connected, and the firmware tool cannot tell them apart. "
                                         "Unplug all docks but the one to upgrade, then try again.",
                                         "连接了多个扩展坞，固件工具无法区分它们。请拔下除要升级的扩展坞以外的所有扩展坞，然后重试。"));
    EXPECT_FALSE(upgrades().upgradeInProgress());
}

// The list stays as it was while the confirmation is up, so what is flashed
// is decided on a fresh look at the USB devices after it, and again right
// before the tool starts: the dock picked, there, and alone.
TEST_F(Fixture, DocksAreLookedAtAfreshBeforeTheFlash)
{
    qputenv("TALVEX_SIM_ARGS_LOG", dir.filePath(QStringLiteral("args")).toLocal8Bit());
    const auto plugSecond = [&] { app->usb->setDocks(2); };
    const auto unplug = [&] { app->usb->setDocks(0); };
    const auto replugged = [&] { app->usb->next.devices[0].devnum = 7; }; // same port, a new plug-in
    const struct {
        const char *name;
        std::function<void()> change;
        bool refusedAloud;
    } cases[] = {
        {"unplugged", unplug, false},
        {"another dock plugged in", plugSecond, true},
        {"another dock in the same port", replugged, false},
    };
    for (const bool beforeTheTool : {false, true}) {
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.name) + (beforeTheTool ? ", during the copy" : ", during the confirmation"));
            launch(1, simulatorBeside());
            // The list stays as the table shows it: only a fresh look sees the change.
            app->monitor().stopUSBMonitoring();
            rightClickRow(*app, 0);
            FirmwareFileDialog *dialog = openDialog(d);
            ASSERT_NE(dialog, nullptr);
            QFile::remove(dir.filePath(QStringLiteral("args")));
            LogCapture log;
            // Before the tool: once the confirmation has closed and the
            // hand-off has looked, while the image is being copied.
            EveryAlert alerts([&](int shown) {
                if (shown == 0 && beforeTheTool)
                    QTimer::singleShot(0, c.change);
                else if (shown == 0)
                    c.change();
            });
            choose(dialog, image("dock.bin"));
            serveUntil([&] { return !upgrades().upgradeInProgress() && alerts.texts.size() == 1 + c.refusedAloud; }, 3000);
            EXPECT_FALSE(upgrades().upgradeInProgress());
            EXPECT_EQ(alerts.texts.size(), 1 + c.refusedAloud) << alerts.texts.join(QLatin1Char('|')).toStdString();
            if (c.refusedAloud) {
                EXPECT_TRUE(alerts.texts.last().startsWith(expectedText("More than one dock", "连接了多个扩展坞")));
            }
            EXPECT_FALSE(upgrades().currentProgressWindow() && upgrades().currentProgressWindow()->isVisible());
            if (!beforeTheTool) { // nothing began: the hand-off looked before anything else
                EXPECT_EQ(upgrades().currentProgressWindow(), nullptr);
            }
            EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("args")))); // the tool never ran
            EXPECT_TRUE(log.texts().filter(QStringLiteral("Starting firmware upgrade")).isEmpty());
        }
    }
}

// Only a regular, readable file of 1 byte to 256 MiB goes on to the
// confirmation; anything else ends with the reason.
TEST_F(Fixture, WhatIsNotAnImageIsRefused)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(image("fifo.bin")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), image("zero.bin")));
    QFile(image("empty.bin")).open(QIODevice::WriteOnly);
    QFile large(image("large.bin"));
    ASSERT_TRUE(large.open(QIODevice::WriteOnly) && large.resize(256 * 1024 * 1024 + 1));
    large.close();
    const struct {
        const char *file;
        QString text;
    } cases[] = {
        {"fifo.bin", expectedText("%1 is not a firmware image: it is not a regular file.", "%1 不是固件映像：它不是普通文件。")},
        {"zero.bin", expectedText("%1 is not a firmware image: it is not a regular file.", "%1 不是固件映像：它不是普通文件。")},
        {"empty.bin", expectedText("The file %1 is empty.", "文件 %1 是空的。")},
        {"large.bin", expectedText("The file %1 is larger than 256 MiB, too large for a firmware image.",
                                   "文件 %1 大于 256 MiB，不可能是固件映像。")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        FirmwareFileDialog *dialog = openDialog(d);
        ASSERT_NE(dialog, nullptr);
        AlertAnswer refused(0);
        choose(dialog, image(c.file));
        ASSERT_TRUE(serveUntil([&] { return refused.seen(); }, 3000));
        EXPECT_EQ(refused.headline, expectedText("Upgrade Failed", "升级失败"));
        EXPECT_EQ(refused.text, c.text.arg(image(c.file)));
        EXPECT_FALSE(upgrades().upgradeInProgress());
    }
}

// A file name is shown and logged, never obeyed: no terminal sequence, no
// line of its own in the log.
TEST_F(Fixture, FileNamesCannotForgeLogLines)
{
    const QString name = QStringLiteral("x\x1b]0;owned\x07\n2026-01-01 00:00:00.000 quorvale[1:1] [Upgrade] Success: YES.bin");
    ASSERT_TRUE(QFile::copy(image("dock.bin"), image(name.toUtf8().constData())));
    LogCapture log;
    EveryAlert alerts;
    flash(name.toUtf8().constData());
    ASSERT_TRUE(serveUntil([&] { return !upgrades().upgradeInProgress() && !alerts.texts.isEmpty(); }));
    const QByteArray logged = log.bytes();
    EXPECT_TRUE(logged.contains("Starting firmware upgrade for Talvex Dock 0 with file: "));
    EXPECT_FALSE(logged.contains('\x1b'));
    EXPECT_FALSE(logged.contains('\x07'));
    EXPECT_EQ(log.texts().filter(QRegularExpression(QStringLiteral("^\\[Upgrade\\] Success: YES"))).size(), 0);
}
// The version query's tool holds the query's share of the lock for its whole
// life, as an upgrade's tool holds the whole lock: a copy of the program
// killed meanwhile leaves no tool running unguarded.
TEST(VersionQueryLock, TheQueryToolHoldsItsShare)
{
    QTemporaryDir dir;
    const QString lock = dir.filePath(QStringLiteral("tool.lock"));
    QFile tool(dir.filePath(QLatin1String(FirmwareToolName)));
    ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
    tool.write("#!/bin/sh\nfor fd in /proc/$$/fd/*; do\n  [ \"$(readlink \"$fd\")\" = '" + lock.toUtf8()
               + "' ] && { echo 'Composite dock image version: 9.9.1'; exit 0; }\ndone\n"
                 "echo 'Composite dock image version: 0.0.1'\n");
    tool.close();
    tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    auto usb = std::make_unique<FakeUsbSource>();
    usb->setDocks(1);
    AppDelegate delegate(std::move(usb),
                         {dir.filePath(QStringLiteral("settings.conf")), lock, dir.filePath(QStringLiteral("history.sqlite"))},
                         {dir.path(), {}});
    LogCapture log;
    delegate.monitor().scanUSBDevices();
    ASSERT_EQ(delegate.monitor().devices().size(), 1);
    EXPECT_EQ(delegate.monitor().devices().at(0).fwversion, QStringLiteral("9.9.1")); // held
    for (const QString &line : log.texts().filter(QStringLiteral("[Sync] Output saved to: ")))
        QFile::remove(line.section(QStringLiteral("saved to: "), 1));
}
} // namespace

#include "test_upgradeflow.moc"
