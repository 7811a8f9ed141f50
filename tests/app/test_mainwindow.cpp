#include "guitest.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

namespace {
QString cell(const Controller &app, int row, int column)
{
    const QAbstractItemModel *model = app.table()->model();
    return model->data(model->index(row, column)).toString();
}
} // namespace

TEST(MainWindow, IsBuiltAsDescribed)
{
    LaunchedApp app(0);
    MainWindow &window = *app.delegate->mainWindow();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Quorvale"));
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(window.geometry(), QRect(available.left() + 100, available.bottom() + 1 - 500, 600, 400));
    EXPECT_TRUE(window.isVisible());
    const QStringList headers{expectedText("Vendor", "制造商"), expectedText("Product", "产品"),
                              expectedText("FWVersion", "固件版本")};
    for (int column = 0; column < 3; ++column) {
        EXPECT_EQ(app.table()->model()->headerData(column, Qt::Horizontal).toString(), headers[column]);
        EXPECT_EQ(app.table()->columnWidth(column), 150);
    }
    EXPECT_EQ(app.table()->model()->rowCount(), 0); // no dock found yet

    const QList<QAction *> bar = window.menuBar()->actions();
    ASSERT_EQ(bar.size(), 1);
    EXPECT_EQ(bar[0]->text(), QStringLiteral("Application"));
    const QList<QAction *> items = bar[0]->menu()->actions();
    ASSERT_EQ(items.size(), 6);
    EXPECT_EQ(items[0]->text(), expectedText("About Quorvale", "关于 Quorvale"));
    EXPECT_TRUE(items[1]->isSeparator());
    EXPECT_EQ(items[2]->text(), expectedText("Preferences", "偏好设置"));
    EXPECT_EQ(items[2]->shortcut(), QKeySequence(QStringLiteral("Ctrl+,")));
    EXPECT_EQ(items[3]->text(), expectedText("Upgrade History…", "升级历史…"));
    EXPECT_EQ(items[3]->shortcut(), QKeySequence(QStringLiteral("Ctrl+H")));
    EXPECT_TRUE(items[4]->isSeparator());
    const QString process = QFileInfo(QCoreApplication::arguments().first()).fileName();
    EXPECT_EQ(items[5]->text(), expectedText("Quit ", "退出 ") + process);
    EXPECT_EQ(items[5]->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
}

// A rescan redraws nothing unless a row came, went or changed.
TEST(MainWindow, TableFollowsScansAndKeepsTheSelection)
{
    LaunchedApp app(2);
    QAbstractItemModel *model = app.table()->model();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::Fatal);
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

    ASSERT_EQ(model->rowCount(), 2); // scanned while launching
    EXPECT_EQ(QStringList({cell(app, 1, 0), cell(app, 1, 1), cell(app, 1, 2)}), (QStringList{"Talvex", "Dock 1", "N/A"}));
    EXPECT_FALSE(model->flags(model->index(0, 0)) & Qt::ItemIsEditable);
    app.table()->selectRow(1);
    app.monitor().scanUSBDevices();
    EXPECT_EQ(changes(), QStringList());
    EXPECT_EQ(app.table()->selectionModel()->selectedRows().value(0).row(), 1);

    app.usb->next.devices[1].productName = QStringLiteral("Renamed");
    app.monitor().scanUSBDevices();
    EXPECT_EQ(changes(), QStringList{"1-1/0-2"});
    EXPECT_EQ(cell(app, 1, 1), QStringLiteral("Renamed"));

    app.rescan(3); // row 1 is "Dock 1" again
    EXPECT_EQ(changes(), QStringList{"1-1/0-2"});
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_EQ(model->rowCount(), 3);
    EXPECT_EQ(cell(app, 2, 1), QStringLiteral("Dock 2"));
    app.rescan(0);
    EXPECT_EQ(changes(), QStringList());
    EXPECT_EQ(removed.count(), 1);
    EXPECT_EQ(model->rowCount(), 0);
    EXPECT_EQ(reset.count() + layout.count(), 0);
}

TEST(MainWindow, NoScanWhileAnAlertOrAMenuIsOpen)
{
    LaunchedApp app(1);
    // The scans in the 1.5 s that `open` shows something until `close` ends it.
    const auto scansWhile = [&](const std::function<void()> &open, const std::function<void()> &close) {
        const int before = app.usb->calls;
        int during = -1;
        QTimer::singleShot(1500, [&] {
            during = app.usb->calls - before;
            close();
        });
        open();
        return during;
    };
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("t"), QStringLiteral("modal"));
    EXPECT_EQ(scansWhile([&] { box.exec(); }, [&] { box.close(); }), 0);
    QMenu menu;
    menu.addAction(QStringLiteral("item"));
    EXPECT_EQ(scansWhile([&] { menu.exec(QPoint(10, 10)); }, [&] { menu.close(); }), 0);

    // Without either, the timer scans every second.
    const int before = app.usb->calls;
    QTest::qWait(2200);
    EXPECT_GE(app.usb->calls - before, 1);
}

// Last: it ends the application's event loop.
TEST(MainWindow, ClosingTheWindowQuitsAndStopsMonitoring)
{
    LaunchedApp app(1);
    QSignalSpy quitting(qApp, &QCoreApplication::aboutToQuit);
    QTimer::singleShot(100, app.delegate->mainWindow(), &QWidget::close);
    QTimer::singleShot(5000, qApp, &QCoreApplication::quit); // a safety net, not the expected path
    QElapsedTimer clock;
    clock.start();
    QApplication::exec();
    EXPECT_LT(clock.elapsed(), 4000);
    EXPECT_EQ(quitting.count(), 1);
    EXPECT_FALSE(app.monitor().isMonitoring());
    const int calls = app.usb->calls;
    QTest::qWait(1200);
    EXPECT_EQ(app.usb->calls, calls);
}
