#include "guitest.h"
#include "ui/upgradeprogresswindow.h"

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QScreen>
#include <QTest>
#include <QWindow>

// Shown over a launched main window, which stays usable.
TEST(ProgressWindow, IsBuiltAsDescribedAndLeavesTheMainWindowUsable)
{
    LaunchedApp app(2);
    UpgradeProgressWindow window;
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowTitleHint);
    EXPECT_TRUE(flags & Qt::CustomizeWindowHint); // only the hints asked for
    EXPECT_FALSE(flags & (Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint | Qt::WindowStaysOnTopHint));
    EXPECT_EQ(window.windowTitle(), expectedText("Firmware Updating", "升级固件中"));
    EXPECT_EQ(window.minimumSize(), QSize(300, 120));
    EXPECT_EQ(window.maximumSize(), QSize(300, 120));
    const QPoint screenCenter = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((window.geometry().center() - screenCenter).manhattanLength(), 2);

    // Bar at y 60..80 and text at 30..50 from the bottom of the 120-point area.
    EXPECT_EQ(window.spinner()->geometry(), QRect(10, 40, 280, 20));
    EXPECT_EQ(window.spinner()->maximum(), 0); // busy, no percentage
    EXPECT_EQ(window.statusLabel()->geometry(), QRect(10, 70, 280, 20));
    EXPECT_EQ(window.statusLabel()->text(),
              expectedText("Upgrading firmware, do not disconnect USB device", "正在升级固件，请勿断开USB设备"));
    // The whole warning is shown, in either language.
    const QLabel &label = *window.statusLabel();
    EXPECT_LE(QFontMetrics(label.font()).horizontalAdvance(label.text()), label.width());

    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(app.delegate->mainWindow()->isEnabled());
    EXPECT_TRUE(rightClickRow(app, 0).has_value());

    // A close request from the window system (a window menu, Alt+F4) reaches
    // the native window, which hands it on as spontaneous; it is refused.
    QCloseEvent close;
    QCoreApplication::sendEvent(window.windowHandle(), &close);
    EXPECT_TRUE(window.isVisible());
    window.close(); // the program itself may
    EXPECT_FALSE(window.isVisible());
}
