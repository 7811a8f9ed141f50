#include "app/devicetablemodel.h"
#include "devices/udevusbsource.h"
#include "guitest.h"
#include "logcapture.h"
#include "usbtestbed.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

namespace {
QString cell(const AppDelegate &delegate, int row, int column)
{
    const QAbstractItemModel *model = delegate.tableView->model();
    return model->data(model->index(row, column)).toString();
}
} // namespace

TEST(MainWindow, IsBuiltAsDescribed)
{
    UsbTestbed testbed;
    testbed.addDock();
    testbed.addOther("046d", "c31c", "Logitech");
    testbed.addDock("Talvex", "TD-70 rev B");
    AppDelegate d(std::make_unique<UdevUsbSource>());
    d.applicationDidFinishLaunching();

    EXPECT_EQ(d.window->windowTitle(), QStringLiteral("Quorvale"));
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(d.window->geometry(), QRect(available.left() + 100, available.bottom() + 1 - 500, 600, 400));
    EXPECT_TRUE(d.window->isVisible());

    const QStringList headers{expectedText("Vendor", "制造商"), expectedText("Product", "产品"),
                              expectedText("FWVersion", "固件版本")};
    for (int column = 0; column < 3; ++column) {
        EXPECT_EQ(d.tableView->model()->headerData(column, Qt::Horizontal).toString(), headers[column]);
        EXPECT_EQ(d.tableView->columnWidth(column), 150);
    }
    EXPECT_FALSE(d.tableView->model()->flags(d.tableView->model()->index(0, 0)) & Qt::ItemIsEditable);

    // One row per dock from the first scan, run before launching returns.
    ASSERT_EQ(d.tableView->model()->rowCount(), 2);
    EXPECT_EQ(cell(d, 0, 0), QStringLiteral("Talvex"));
    EXPECT_EQ(cell(d, 0, 1), QStringLiteral("TD-70 USB-C Dock"));
    EXPECT_EQ(cell(d, 0, 2), QStringLiteral("N/A"));
    EXPECT_EQ(cell(d, 1, 1), QStringLiteral("TD-70 rev B"));
    EXPECT_EQ(cell(d, 2, 0), QString());
    EXPECT_EQ(cell(d, -1, 0), QString());
    EXPECT_EQ(d.selectedRow, -1);
    ASSERT_TRUE(d.usbMonitorTimer);
    EXPECT_TRUE(d.usbMonitorTimer->isActive());
    EXPECT_EQ(d.usbMonitorTimer->interval(), 1000);
}

TEST(MainWindow, ApplicationMenu)
{
    LaunchedApp app(0);
    const QList<QAction *> bar = app.delegate->window->menuBar()->actions();
    ASSERT_EQ(bar.size(), 1);
    EXPECT_EQ(bar[0]->text(), QStringLiteral("Application"));
    const QList<QAction *> items = bar[0]->menu()->actions();
    ASSERT_EQ(items.size(), 3);
    const QString process = QFileInfo(QCoreApplication::arguments().first()).fileName();
    EXPECT_EQ(items[0]->text(), expectedText("Preferences", "偏好设置"));
    EXPECT_EQ(items[0]->shortcut(), QKeySequence(QStringLiteral("Ctrl+,")));
    EXPECT_TRUE(items[1]->isSeparator());
    EXPECT_EQ(items[2]->text(), expectedText("Quit ", "退出 ") + process);
    EXPECT_EQ(items[2]->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
}

// A rescan redraws nothing unless a row came, went or changed.
TEST(MainWindow, TableFollowsScansAndKeepsTheSelection)
{
    LaunchedApp app(2);
    FakeUsbSource *fake = app.usb;
    AppDelegate &d = *app.delegate;
    QAbstractItemModel *model = d.tableView->model();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::Warning);
    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
    QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(model, &QAbstractItemModel::modelReset);
    QSignalSpy layout(model, &QAbstractItemModel::layoutChanged);
    // Each change as "first row-last row/first column-last column".
    const auto changes = [&] {
        QStringList seen;
        for (const QList<QVariant> &args : std::as_const(changed)) {
            const QModelIndex from = args[0].toModelIndex(), to = args[1].toModelIndex();
            seen << QStringLiteral("%1-%2/%3-%4").arg(from.row()).arg(to.row()).arg(from.column()).arg(to.column());
        }
        changed.clear();
        return seen;
    };

    d.tableView->selectRow(1);
    d.scanUSBDevices();
    EXPECT_EQ(changes(), QStringList());
    EXPECT_EQ(d.tableView->selectionModel()->selectedRows().value(0).row(), 1);

    fake->next.devices[1].productName = QStringLiteral("Renamed");
    d.scanUSBDevices();
    EXPECT_EQ(changes(), QStringList{"1-1/0-2"});
    EXPECT_EQ(cell(d, 1, 1), QStringLiteral("Renamed"));

    fake->setDocks(3); // row 1 is "Dock 1" again
    d.scanUSBDevices();
    EXPECT_EQ(changes(), QStringList{"1-1/0-2"});
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_EQ(model->rowCount(), 3);
    EXPECT_EQ(cell(d, 2, 1), QStringLiteral("Dock 2"));
    fake->setDocks(0);
    d.scanUSBDevices();
    EXPECT_EQ(changes(), QStringList());
    EXPECT_EQ(removed.count(), 1);
    EXPECT_EQ(model->rowCount(), 0);
    EXPECT_EQ(reset.count() + layout.count(), 0);
}

TEST(MainWindow, FailedEnumerationKeepsEverything)
{
    LaunchedApp app(1);
    FakeUsbSource *fake = app.usb;
    AppDelegate &d = *app.delegate;
    d.data[0].fwversion = QStringLiteral("1.0.3");
    const bool flag = d.fwQueried;

    for (const QString &failure : {QStringLiteral("IOServiceMatching failed"),
                                   QStringLiteral("IOServiceGetMatchingServices failed: fffffffe")}) {
        fake->next = {};
        fake->next.failure = failure;
        LogCapture log;
        d.scanUSBDevices();
        EXPECT_EQ(log.texts(), QStringList{failure});
        ASSERT_EQ(d.data.size(), 1);
        EXPECT_EQ(cell(d, 0, 2), QStringLiteral("1.0.3"));
        EXPECT_EQ(d.fwQueried, flag);
    }
}

TEST(MainWindow, NoScanWhileAnAlertOrAMenuIsOpen)
{
    LaunchedApp app(1);
    FakeUsbSource *fake = app.usb;
    int callsWhileOpen = -1;

    QTimer::singleShot(0, [&] {
        const int before = fake->calls;
        QTimer::singleShot(1500, [&, before] {
            callsWhileOpen = fake->calls - before;
            QApplication::activeModalWidget()->close();
        });
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("t"), QStringLiteral("modal"));
        box.exec();
    });
    QTest::qWait(1700);
    EXPECT_EQ(callsWhileOpen, 0);

    callsWhileOpen = -1;
    QMenu menu;
    menu.addAction(QStringLiteral("item"));
    QTimer::singleShot(0, [&] {
        const int before = fake->calls;
        QTimer::singleShot(1500, [&, before] {
            callsWhileOpen = fake->calls - before;
            menu.close();
        });
    });
    menu.exec(QPoint(10, 10));
    EXPECT_EQ(callsWhileOpen, 0);

    // Without either, the timer scans every second.
    const int before = fake->calls;
    QTest::qWait(2200);
    EXPECT_GE(fake->calls - before, 1);
}

// Last: it ends the application's event loop.
TEST(MainWindow, ClosingTheWindowQuitsAndStopsMonitoring)
{
    LaunchedApp app(1);
    FakeUsbSource *fake = app.usb;
    QSignalSpy quitting(qApp, &QCoreApplication::aboutToQuit);
    QTimer::singleShot(100, app.delegate->window.get(), &QWidget::close);
    QTimer::singleShot(5000, qApp, &QCoreApplication::quit); // a safety net, not the expected path
    const QElapsedTimer clock = [] { QElapsedTimer t; t.start(); return t; }();
    QApplication::exec();
    EXPECT_LT(clock.elapsed(), 4000);
    EXPECT_EQ(quitting.count(), 1);
    EXPECT_FALSE(app.delegate->usbMonitorTimer);
    const int calls = fake->calls;
    QTest::qWait(1200);
    EXPECT_EQ(fake->calls, calls);
}
