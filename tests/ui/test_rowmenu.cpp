#include "guitest.h"
#include "logcapture.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QHeaderView>
#include <QAccessible>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString copyTitle = expectedText("Copy Device Info", "复制设备信息");
} // namespace

// Only a row opens the menu, and it copies that row.
TEST(RowMenu, OpensOnlyOnARowAndCopiesIt)
{
    LaunchedApp app(3);
    const MainWindow &window = *app.delegate->mainWindow();
    ASSERT_EQ(window.menuRow(), -1);

    LogCapture log;
    EXPECT_EQ(rightClickRow(app, 1, copyTitle),
              (QStringList{copyTitle, expectedText("Read Version Again", "重新读取版本"), "-",
                           expectedText("Upgrade Firmware", "升级固件")}));
    EXPECT_EQ(window.menuRow(), 1);

    // English labels in every language; a version not read yet is "N/A".
    const QString text = QStringLiteral("Vendor: Talvex\nProduct: Dock 1\nFWVersion: N/A");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), text);
    EXPECT_TRUE(log.bytes().contains(("] Device info copied to clipboard: " + text + "\n").toUtf8()));
    // The table's own highlight is left alone.
    EXPECT_TRUE(app.table()->selectionModel()->selectedRows().isEmpty());

    const QPoint belowLastRow = rowCenter(app, 2) + QPoint(0, 3 * app.table()->rowHeight(2));
    EXPECT_FALSE(rightClick(app.table()->viewport(), belowLastRow));
    EXPECT_FALSE(rightClick(app.table()->horizontalHeader(), QPoint(20, 5)));
    EXPECT_EQ(window.menuRow(), 1);
    app.rescan(0);
    EXPECT_FALSE(rightClick(app.table()->viewport(), QPoint(20, 5)));
    EXPECT_EQ(window.menuRow(), 1);
}

// From the keyboard the menu belongs to the highlighted row and shows on it,
// wherever the pointer is; with no row highlighted there is none.
TEST(RowMenu, KeyboardOpensItForTheHighlightedRow)
{
    LaunchedApp app(3);
    const MainWindow &window = *app.delegate->mainWindow();
    MyTableView *table = app.table();
    const auto menuKey = [&] {
        // Qt names the pointer's place in the request: here, over row 0.
        QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(), table->viewport()->mapToGlobal(rowCenter(app, 0)));
        QApplication::sendEvent(table, &event);
    };
    EXPECT_FALSE(requestMenu(menuKey));
    EXPECT_EQ(window.menuRow(), -1);

    table->selectRow(2);
    QPoint shownAt;
    EXPECT_TRUE(requestMenu(menuKey, {}, &shownAt));
    EXPECT_EQ(window.menuRow(), 2);
    const QRect row2 = table->visualRect(table->model()->index(2, 0));
    EXPECT_TRUE(QRect(table->viewport()->mapToGlobal(row2.topLeft()), row2.size()).contains(shownAt)) << shownAt.y();

    table->selectRow(1);
    QKeyEvent shiftF10(QEvent::KeyPress, Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_TRUE(requestMenu([&] { QApplication::sendEvent(table, &shiftF10); }));
    EXPECT_EQ(window.menuRow(), 1);
}

TEST(RowMenu, CopyActsOnTheListOfTheMoment)
{
    LaunchedApp app(3);
    rightClickRow(app, 2);
    app.rescan(2); // the right-clicked row is gone
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    LogCapture log;
    app.delegate->copyDeviceInfo();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    EXPECT_TRUE(log.bytes().isEmpty());

    rightClickRow(app, 1); // within the list: whatever record stands there now
    app.usb->next.devices[1].vendorName = QStringLiteral("Name with %1 and %2");
    app.monitor().scanUSBDevices();
    app.delegate->copyDeviceInfo();
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QStringLiteral("Vendor: Name with %1 and %2\nProduct: Dock 1\nFWVersion: N/A"));
}

// "Read Version Again" and F5 read the docks' version at once, one query at a
// time: asked during a query, once more after it.
TEST(RowMenu, ReadVersionAgainAndF5)
{
    LaunchedApp app(1);
    app.answer = QStringLiteral("1.0.3");
    ASSERT_EQ(app.versionQueries, 1);
    int running = 0, overlapping = 0;
    app.duringQuery = [&] { overlapping += running++ > 0, --running; };
    rightClickRow(app, 0, expectedText("Read Version Again", "重新读取版本"));
    ASSERT_TRUE(serveUntil([&] { return app.versionQueries == 2; }, 3000));
    // F5, and F5 again while the first is read: two queries in all, never side
    // by side. Shortcuts reach the active window: the menu took it away.
    app.delegate->mainWindow()->takeKeyboard();
    ASSERT_TRUE(serveUntil([&] { return QApplication::activeWindow() == app.delegate->mainWindow(); }));
    app.answer = QStringLiteral("2.1.0");
    int pressedDuring = 0;
    app.duringQuery = [&] {
        overlapping += running++ > 0;
        if (pressedDuring++ == 0) {
            QTest::keyClick(app.table(), Qt::Key_F5);
            serveUntil([] { return false; }, 50);
        }
        --running;
    };
    QTest::keyClick(app.table(), Qt::Key_F5);
    ASSERT_TRUE(serveUntil([&] { return app.versionQueries == 4; }, 3000));
    serveUntil([] { return false; }, 200);
    EXPECT_EQ(app.versionQueries, 4);
    EXPECT_EQ(overlapping, 0);
    EXPECT_EQ(app.versions(), QStringList{"2.1.0"});
    app.rescan(0); // nothing to read: F5 asks nothing
    QTest::keyClick(app.table(), Qt::Key_F5);
    serveUntil([] { return false; }, 200);
    EXPECT_EQ(app.versionQueries, 4);
}

// Without the firmware tool a line under the table says where it is looked
// for, and "Upgrade Firmware" cannot be chosen and says why; once the tool is
// copied in, the line goes and the version is read.
TEST(RowMenu, MissingToolIsSaidAndItsArrivalRead)
{
    QTemporaryDir dir;
    const QString beside = dir.filePath(QStringLiteral("bin")), libexec = dir.filePath(QStringLiteral("libexec/quorvale"));
    ASSERT_TRUE(QDir().mkpath(beside));
    LaunchedApp app(1, {beside, libexec});
    app.answer = QStringLiteral("1.0.3");
    const auto *line = app.delegate->mainWindow()->findChild<QLabel *>(QStringLiteral("toolProblem"));
    ASSERT_NE(line, nullptr);
    const QString missing = expectedText("The firmware tool Talvex_Firmware_Update is missing. Quorvale looks for it in %1 and in %2.",
                                         "缺少固件工具 Talvex_Firmware_Update。Quorvale 会在 %1 和 %2 中查找它。").arg(beside, libexec);
    EXPECT_EQ(line->text(), missing);
    EXPECT_TRUE(line->isVisible());
    MyTableView *table = app.table();
    const std::unique_ptr<QMenu> menu(
        app.delegate->mainWindow()->tableViewMenuForEvent(table, table->viewport()->mapToGlobal(rowCenter(app, 0))));
    QAction *upgrade = menu->actions().last();
    EXPECT_FALSE(upgrade->isEnabled());
    EXPECT_EQ(upgrade->toolTip(), missing);
    QAccessibleInterface *item = QAccessible::queryAccessibleInterface(menu.get())->child(3);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(QAccessible::Description), missing);

    // Copied in, in a folder made meanwhile; not executable yet, then made so.
    const int queries = app.versionQueries;
    ASSERT_TRUE(QDir().mkpath(libexec));
    QFile tool(libexec + QStringLiteral("/Talvex_Firmware_Update"));
    ASSERT_TRUE(tool.open(QIODevice::WriteOnly) && tool.write("#!/bin/sh\n") > 0);
    tool.close();
    ASSERT_TRUE(serveUntil([&] { return line->text() != missing; }, 3000));
    EXPECT_EQ(line->text(), expectedText("The firmware tool %1 cannot be run: it is not executable.",
                                         "无法运行固件工具 %1：它不可执行。").arg(tool.fileName()));
    ASSERT_TRUE(tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    ASSERT_TRUE(serveUntil([&] { return line->text().isEmpty(); }, 3000));
    EXPECT_FALSE(line->isVisible());
    ASSERT_TRUE(serveUntil([&] { return app.versionQueries == queries + 1; }, 3000));
}
