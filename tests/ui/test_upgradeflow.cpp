#include "guitest.h"
#include "logcapture.h"
#include "ui/firmwarefiledialog.h"
#include "ui/upgradeprogresswindow.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
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
        app = std::make_unique<LaunchedApp>(2, ToolDirectories{QFileInfo(QStringLiteral(TALVEX_SIMULATOR_PATH)).path(), {}});
        d = app->delegate.get();
        d->selectedRow = 1;
    }
    QString image(const char *name) const { return dir.filePath(QStringLiteral("fw/") + QLatin1String(name)); }
    bool upgradeEnabledInMenu()
    {
        const std::unique_ptr<QMenu> menu(
            d->tableViewMenuForEvent(d->tableView, d->tableView->viewport()->mapToGlobal(rowCenter(*d, 1))));
        return menu && menu->actions().last()->isEnabled();
    }

    QTemporaryDir dir;
    std::unique_ptr<LaunchedApp> app;
    AppDelegate *d = nullptr;
};

TEST_F(Fixture, NoDialogWithoutAValidRow)
{
    for (const qint64 row : {qint64(-1), qint64(2)}) {
        d->selectedRow = row;
        EXPECT_EQ(openDialog(d), nullptr) << row;
    }
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
    EXPECT_FALSE(d->upgradeInProgress());

    // The list shrank while the dialog was open: the selected row names no record.
    ASSERT_NE(dialog = openDialog(d), nullptr);
    app->rescan(1);
    AlertAnswer none(1);
    choose(dialog, image("dock.bin"));
    serveUntil([] { return false; }, 300);
    EXPECT_FALSE(none.seen());
    EXPECT_FALSE(d->upgradeInProgress());
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
    ASSERT_TRUE(d->upgradeInProgress());
    ASSERT_TRUE(d->progressWindow && d->progressWindow->isVisible());

    // While it runs: no second upgrade, and no version query to share the dock.
    EXPECT_FALSE(upgradeEnabledInMenu());
    EXPECT_EQ(openDialog(d), nullptr);
    app->rescan(0);
    app->rescan(2);
    EXPECT_EQ(app->versionQueries, queries);
    EXPECT_FALSE(d->fwQueried);

    AlertAnswer result(0);
    EXPECT_TRUE(serveUntil([&] { return !d->upgradeInProgress() && result.seen(); }));
    EXPECT_EQ(result.headline, expectedText("Upgrade Success", "升级成功"));
    EXPECT_EQ(result.text, expectedText("Firmware upgrade successful!", "固件升级成功！"));
    EXPECT_FALSE(d->progressWindow->isVisible());
    EXPECT_TRUE(log.contains(QStringLiteral("[Upgrade] Success: YES, Message: ") + result.text));
    EXPECT_TRUE(upgradeEnabledInMenu());

    // The version column is read again for the firmware now on the dock.
    app->rescan(2);
    EXPECT_EQ(app->versionQueries, queries + 1);
}

TEST_F(Fixture, FailedRunsReportFailure)
{
    struct Case {
        const char *name;
        ToolDirectories tools;
        QString text;
    };
    const Case cases[] = {
        {"corrupt image", {}, expectedText("Upgrade tool exited abnormally!", "升级工具异常退出！")},
        {"no tool", {dir.filePath(QStringLiteral("none")), {}}, expectedText("Failed to launch upgrade tool: ", "无法启动升级工具: ")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.tools.executableDir.isEmpty()) {
            app = std::make_unique<LaunchedApp>(1, c.tools);
            d = app->delegate.get();
        }
        d->fwQueried = true;
        AlertAnswer result(0);
        d->performFirmwareUpgradeWithFilePath(image("bad.bin"));
        EXPECT_TRUE(serveUntil([&] { return !d->upgradeInProgress() && result.seen(); }));
        EXPECT_EQ(result.headline, expectedText("Upgrade Failed", "升级失败"));
        EXPECT_TRUE(result.text.startsWith(c.text)) << result.text.toStdString();
        EXPECT_FALSE(d->fwQueried);
    }
}

// A quit during a flash waits for the run to end, then quits without the alert.
TEST_F(Fixture, QuitWaitsForTheRun)
{
    qputenv("TALVEX_SIM_PACE_MS", "50");
    LogCapture log;
    const AlertAnswer alert(0);
    QTimer::singleShot(0, [&] {
        d->performFirmwareUpgradeWithFilePath(image("dock.bin"));
        QCoreApplication::quit();
    });
    QTimer::singleShot(15000, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(d->upgradeInProgress());
    EXPECT_FALSE(alert.seen());
    const QStringList lines = log.texts();
    const qsizetype quit = lines.indexOf(QStringLiteral("[Upgrade] Quit requested during a firmware upgrade; quitting when it ends"));
    const qsizetype saved = lines.indexOf(QRegularExpression(QStringLiteral("\\[Upgrade\\] Output saved to: .*")));
    EXPECT_TRUE(quit >= 0 && saved > quit) << lines.join(QLatin1Char('\n')).toStdString();
}
} // namespace
