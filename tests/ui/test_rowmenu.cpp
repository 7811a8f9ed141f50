#include "guitest.h"
#include "logcapture.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>

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
              (QStringList{copyTitle, "-", expectedText("Upgrade Firmware", "升级固件")}));
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
