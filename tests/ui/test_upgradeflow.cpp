#include "guitest.h"
#include "logcapture.h"
#include "settings/preferencesvalue.h"
#include "tool/toollock.h"
#include "ui/firmwarefiledialog.h"
#include "ui/upgradeprogresswindow.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

namespace {
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
        launch(2, ToolDirectories{QFileInfo(QStringLiteral(TALVEX_SIMULATOR_PATH)).path(), {}});
        rightClickRow(*app, 1);
    }
    void launch(int docks, ToolDirectories tools)
    {
        app = std::make_unique<LaunchedApp>(docks, std::move(tools));
        d = app->delegate.get();
    }
    UpgradeController &upgrades() const { return d->upgrades(); }
    void storeTimeout(const char *value)
    {
        QSettings(app->settingsFile(), QSettings::NativeFormat).setValue(UpgradeTimeoutKey, value);
    }
    QString image(const char *name) const { return dir.filePath(QStringLiteral("fw/") + QLatin1String(name)); }
    bool upgradeEnabledInMenu()
    {
        MyTableView *table = app->table();
        const std::unique_ptr<QMenu> menu(
            d->mainWindow()->tableViewMenuForEvent(table, table->viewport()->mapToGlobal(rowCenter(*app, 1))));
        return menu && menu->actions().last()->isEnabled();
    }

    QTemporaryDir dir;
    std::unique_ptr<LaunchedApp> app;
    AppDelegate *d = nullptr;
};

TEST_F(Fixture, NoDialogWithoutADock)
{
    upgrades().upgradeFirmware(QStringLiteral("/sys/bus/usb/devices/9-9"));
    QCoreApplication::processEvents();
    launch(2, {}); // no row's menu opened yet
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
    EXPECT_EQ(cancel.text, expectedText("Device: Talvex Dock 1\n\nFile: dock.bin\n\nConfirm to start firmware upgrade?",
                                        "设备: Talvex Dock 1\n\n文件: dock.bin\n\n确认开始升级固件?"));
    EXPECT_FALSE(upgrades().upgradeInProgress());

    // The dock was unplugged while the dialog was open: the row now shows
    // another dock, and the flow ends without a word.
    ASSERT_NE(dialog = openDialog(d), nullptr);
    app->usb->setDocks(3);
    app->usb->next.devices.erase(app->usb->next.devices.begin() + 1);
    app->monitor().scanUSBDevices();
    AlertAnswer none(1);
    choose(dialog, image("dock.bin"));
    serveUntil([] { return false; }, 300);
    EXPECT_FALSE(none.seen());
    EXPECT_FALSE(upgrades().upgradeInProgress());
    EXPECT_TRUE(log.texts().filter(QRegularExpression(QStringLiteral("^(Starting|\\[Upgrade\\])"))).isEmpty());
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
    EXPECT_TRUE(log.contains(QStringLiteral("Starting firmware upgrade for Talvex Dock 1 with file: ") + image("dock.bin")));
    ASSERT_TRUE(upgrades().upgradeInProgress());
    ASSERT_TRUE(upgrades().currentProgressWindow() && upgrades().currentProgressWindow()->isVisible());

    // While it runs: no second upgrade, and no version query to share the dock.
    EXPECT_FALSE(upgradeEnabledInMenu());
    EXPECT_EQ(openDialog(d), nullptr);
    app->rescan(0);
    app->rescan(2);
    EXPECT_EQ(app->versionQueries, queries);
    EXPECT_FALSE(app->monitor().versionQueried());

    bool progressVisible = true;
    AlertAnswer result(0, [&] { progressVisible = upgrades().currentProgressWindow()->isVisible(); });
    EXPECT_TRUE(serveUntil([&] { return !upgrades().upgradeInProgress() && result.seen(); }));
    EXPECT_EQ(result.headline, expectedText("Upgrade Success", "升级成功"));
    EXPECT_EQ(result.text, expectedText("Firmware upgrade successful!", "固件升级成功！"));
    EXPECT_EQ(result.buttons, QStringList{expectedText("OK", "确定")});
    EXPECT_TRUE(result.applicationModal);
    EXPECT_FALSE(progressVisible); // closed before the alert
    EXPECT_TRUE(log.contains(QStringLiteral("[Upgrade] Success: YES, Message: ") + result.text));
    EXPECT_TRUE(upgradeEnabledInMenu());

    // The version column is read again for the firmware now on the dock.
    app->rescan(2);
    EXPECT_EQ(app->versionQueries, queries + 1);
}

// The stored timeout is the one the run applies, and 0 switches it off.
TEST_F(Fixture, RunsEndAsTheyWentAndApplyTheStoredTimeout)
{
    const QString abnormal = expectedText("Upgrade tool exited abnormally!", "升级工具异常退出！");
    const struct {
        const char *name, *timeout, *paceMs, *file;
        QString headline, text, logged;
    } cases[] = {
        {"corrupt image", "600", "1", "bad.bin", expectedText("Upgrade Failed", "升级失败"), abnormal, {}},
        {"no tool", "600", "1", "dock.bin", expectedText("Upgrade Failed", "升级失败"),
         expectedText("Failed to launch upgrade tool: ", "无法启动升级工具: "), {}},
        {"silent past the stored limit", "1", "1500", "dock.bin", expectedText("Upgrade Failed", "升级失败"), abnormal,
         "[Upgrade] No output from firmware tool for 1 seconds; stopping it"},
        {"no limit", "0", "1", "dock.bin", expectedText("Upgrade Success", "升级成功"), {}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (QLatin1String(c.name) == QLatin1String("no tool"))
            launch(1, {dir.filePath(QStringLiteral("none")), {}});
        else
            launch(1, ToolDirectories{QFileInfo(QStringLiteral(TALVEX_SIMULATOR_PATH)).path(), {}});
        ASSERT_TRUE(app->monitor().versionQueried());
        storeTimeout(c.timeout);
        qputenv("TALVEX_SIM_PACE_MS", c.paceMs);
        LogCapture log;
        AlertAnswer result(0);
        upgrades().performFirmwareUpgradeWithFilePath(image(c.file));
        EXPECT_TRUE(serveUntil([&] { return !upgrades().upgradeInProgress() && result.seen(); }));
        EXPECT_EQ(result.headline, c.headline);
        EXPECT_TRUE(result.text.startsWith(c.text)) << result.text.toStdString();
        EXPECT_FALSE(app->monitor().versionQueried());
        EXPECT_TRUE(c.logged.isEmpty() || log.contains(c.logged));
    }
}

// Another copy of the program flashing a dock: no upgrade here, no version
// query either, until it has finished.
TEST_F(Fixture, AnotherCopyFlashingKeepsThisOneOffTheTool)
{
    ToolLock other(app->files().toolLock);
    ASSERT_TRUE(other.tryExclusive());
    AlertAnswer busy(0);
    upgrades().performFirmwareUpgradeWithFilePath(image("dock.bin"));
    EXPECT_TRUE(busy.seen());
    EXPECT_FALSE(upgrades().upgradeInProgress());
    EXPECT_EQ(busy.headline, expectedText("Upgrade Failed", "升级失败"));
    EXPECT_TRUE(busy.text.startsWith(expectedText("Another Quorvale window", "另一个 Quorvale 窗口")));

    const int queries = app->versionQueries;
    app->rescan(0);
    app->rescan(1);
    EXPECT_EQ(app->versionQueries, queries);
    other.release();
    app->rescan(1);
    EXPECT_EQ(app->versionQueries, queries + 1);
    // The query gave the tool back: an upgrade may start.
    EXPECT_TRUE(other.tryExclusive());
}

// A quit during a flash, or the main window closed, waits for the run to
// end, then quits without the alert.
TEST_F(Fixture, QuitWaitsForTheRun)
{
    qputenv("TALVEX_SIM_PACE_MS", "50");
    for (const bool byClosingTheWindow : {false, true}) {
        SCOPED_TRACE(byClosingTheWindow ? "window closed" : "quit");
        launch(1, ToolDirectories{QFileInfo(QStringLiteral(TALVEX_SIMULATOR_PATH)).path(), {}});
        LogCapture log;
        const AlertAnswer alert(0);
        QTimer::singleShot(0, [&] {
            upgrades().performFirmwareUpgradeWithFilePath(image("dock.bin"));
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
} // namespace
