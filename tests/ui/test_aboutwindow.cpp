#include "guitest.h"
#include "app/aboutfacts.h"
#include "ui/aboutwindow.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>

#include <algorithm>

namespace {
// The texts of a window's labels as a person reads them, top to bottom.
QStringList labelsInReadingOrder(const QWidget *window)
{
    QList<QLabel *> labels = window->findChildren<QLabel *>();
    const auto at = [window](const QLabel *label) { return label->mapTo(window, QPoint()); };
    std::sort(labels.begin(), labels.end(), [&](const QLabel *a, const QLabel *b) {
        return std::pair(at(a).y(), at(a).x()) < std::pair(at(b).y(), at(b).x());
    });
    QStringList texts;
    for (const QLabel *label : labels)
        texts << label->text();
    return texts;
}

} // namespace

// Opened from the Application menu, the window tells this build's version,
// the license and where the program looks for the tool and keeps its
// settings, history and logs, in the program's language.
TEST(AboutWindow, TellsVersionLicenseAndPlaces)
{
    LaunchedApp app(1, {QStringLiteral("/opt/quorvale/bin"), QStringLiteral("/opt/quorvale/libexec/quorvale")});
    QMenu *menu = app.delegate->mainWindow()->menuBar()->actions().value(0)->menu();
    ASSERT_NE(menu, nullptr);
    QAction *item = menu->actions().value(0);
    EXPECT_EQ(item->text(), expectedText("About Quorvale", "关于 Quorvale"));
    item->trigger();
    AboutWindow *about = app.delegate->about();
    ASSERT_TRUE(about && about->isVisible());
    EXPECT_EQ(about->windowTitle(), expectedText("About Quorvale", "关于 Quorvale"));
    EXPECT_EQ(labelsInReadingOrder(about),
              (QStringList{QStringLiteral("Quorvale"), expectedText("Version ", "版本 ") + QStringLiteral(EXPECTED_VERSION),
                           expectedText("Free software under the MIT license.", "自由软件\uFF0C以 MIT 许可证发布\u3002"),
                           expectedText("Talvex_Firmware_Update is looked for in:", "Talvex_Firmware_Update 的查找位置\uFF1A"),
                           QStringLiteral("/opt/quorvale/bin"), QStringLiteral("/opt/quorvale/libexec/quorvale"),
                           expectedText("Settings:", "设置\uFF1A"), app.settingsFile(),
                           expectedText("Upgrade history:", "升级历史\uFF1A"), app.files().history,
                           expectedText("Firmware tool logs:", "固件工具日志\uFF1A"),
                           QStringLiteral("/tmp/talvex_sync_*.log"), QStringLiteral("/tmp/talvex_upgrade_*.log")}));
    const QList<QPushButton *> buttons = about->findChildren<QPushButton *>();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons[0]->text(), expectedText("OK", "确定"));
}

// However the window closes, the main window is active again with the
// keyboard in its table, also where no window manager would hand it back.
TEST(AboutWindow, EveryCloseGivesTheKeyboardBackToTheTable)
{
    LaunchedApp app(1);
    const QWidget *main = app.delegate->mainWindow();
    ASSERT_TRUE(serveUntil([&] { return QApplication::activeWindow() == main; }));
    const struct {
        const char *name;
        std::function<void(AboutWindow *)> close;
    } ways[] = {
        {"Escape", [](AboutWindow *) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape); }},
        {"Return", [](AboutWindow *) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); }},
        {"OK", [](AboutWindow *w) { QTest::mouseClick(w->findChild<QPushButton *>(), Qt::LeftButton); }},
        {"close button", [](AboutWindow *w) { w->close(); }},
    };
    for (const auto &c : ways) {
        SCOPED_TRACE(c.name);
        app.delegate->openAbout();
        AboutWindow *about = app.delegate->about();
        ASSERT_TRUE(serveUntil([&] { return QApplication::activeWindow() == about; }));
        c.close(about);
        EXPECT_TRUE(serveUntil([&] { return !about->isVisible() && QApplication::activeWindow() == main; }, 2000));
        EXPECT_EQ(QApplication::focusWidget(), app.table());
    }
}
