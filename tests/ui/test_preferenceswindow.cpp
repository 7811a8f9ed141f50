#include "guitest.h"
#include "logcapture.h"
#include "settings/preferencesvalue.h"
#include "ui/preferenceswindow.h"

#include <gtest/gtest.h>

#include <functional>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {
// A controller whose settings live in a folder of the test's own.
class Preferences : public ::testing::Test {
protected:
    void writeFile(const QByteArray &text)
    {
        QDir().mkpath(QFileInfo(app.settingsFile()).path());
        QFile file(app.settingsFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    PreferencesWindow *window() const { return app.delegate->preferences(); }
    QLineEdit *field() const { return window()->field(); }
    QString openAndRead()
    {
        app.delegate->openPreferences();
        return field()->text();
    }
    // The window must be open.
    void typeAndSave(const QString &text)
    {
        field()->setText(text);
        QTest::mouseClick(window()->findChild<QPushButton *>(), Qt::LeftButton);
        QCoreApplication::processEvents();
    }
    QString problem() const { return window()->findChild<QLabel *>(QStringLiteral("timeoutProblem"))->text(); }
    // A new controller, which builds its window anew.
    void restart() { app.delegate = std::make_unique<AppDelegate>(std::make_unique<FakeUsbSource>(), app.files()); }

    Controller app;
};
} // namespace

TEST_F(Preferences, FirstOpenShowsTheDefaultInTheWindowAsDescribed)
{
    EXPECT_EQ(openAndRead(), QStringLiteral("600"));
    QWidget &w = *window();
    const Qt::WindowFlags wanted = Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    EXPECT_EQ(w.windowFlags() & wanted, wanted);
    EXPECT_FALSE(w.windowFlags() & (Qt::WindowMinMaxButtonsHint | Qt::WindowStaysOnTopHint));
    EXPECT_EQ(w.windowTitle(), expectedText("Preferences", "偏好设置"));
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(w.geometry(), QRect(available.left() + 200, available.bottom() + 1 - 340, 360, 140));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    const auto *label = w.findChild<QLabel *>();
    EXPECT_EQ(label->text(),
              expectedText("Upgrade timeout (seconds, 0 to disable):", "升级超时\uFF08秒\uFF0C0 表示禁用\uFF09\uFF1A"));
    EXPECT_EQ(label->geometry(), QRect(20, 38, 320, 22));
    EXPECT_EQ(field()->geometry(), QRect(20, 68, 120, 24));
    const auto *save = w.findChild<QPushButton *>();
    EXPECT_EQ(save->text(), expectedText("Save", "保存"));
    EXPECT_EQ(save->geometry(), QRect(240, 100, 100, 28));
}

// What the window shows is what an upgrade applies: a stored value that is
// not a whole number of seconds in range means the default.
TEST_F(Preferences, ShowsTheStoredValueAsTheRunAppliesIt)
{
    const struct {
        const char *name;
        QByteArray stored;
        const char *shown;
    } cases[] = { // neighbours differ in size: Qt rereads a file whose size or time changed
        {"45", "45", "45"}, {"0 disables", "0", "0"}, {"30.0", "30.0", "30"}, {"2.5", "2.5", "600"},
        {"the string 15", "\"15\"", "15"}, {"0.4", "0.4", "600"}, {"-5", "-5", "600"}, {"abc", "abc", "600"},
        {"3s", "3s", "600"}, {"beyond a day", "86401", "600"}, {"a list", "15, 20", "600"},
        {"a broken variant", "@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x10)", "600"},
        {"binary junk", QByteArray("\0\xff[[\n=\n[General\n", 16), "600"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        writeFile("[General]\nUpgradeTimeoutSeconds=" + c.stored + "\n");
        const QVariant stored = QSettings(app.settingsFile(), QSettings::NativeFormat).value(UpgradeTimeoutKey);
        EXPECT_EQ(QString::number(upgradeTimeoutSeconds(stored)), QLatin1String(c.shown));
        EXPECT_EQ(openAndRead(), QString::fromLatin1(c.shown));
        restart();
    }
}

// Only a whole number of seconds from 0 to a day is saved; anything else is
// refused with a line saying what the field takes, and nothing is stored.
TEST_F(Preferences, SaveStoresWholeSecondsOnly)
{
    const struct {
        const char *typed;
        int stored; // -1: refused
    } cases[] = {{"45", 45}, {" 0 ", 0}, {"86400", 86400}, {"20s", -1}, {"2.5", -1}, {"-1", -1}, {"86401", -1}, {"abc", -1}, {"", -1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        QFile::remove(app.settingsFile());
        app.delegate->openPreferences();
        LogCapture log;
        typeAndSave(QString::fromLatin1(c.typed));
        EXPECT_TRUE(log.texts().isEmpty());
        const QVariant stored = QSettings(app.settingsFile(), QSettings::NativeFormat).value(UpgradeTimeoutKey);
        if (c.stored < 0) {
            ASSERT_TRUE(window() && window()->isVisible());
            EXPECT_EQ(problem(), expectedText("Enter a whole number of seconds from 0 to 86400.",
                                              "请输入 0 到 86400 之间的整数秒数\u3002"));
            EXPECT_FALSE(stored.isValid());
            window()->close();
            continue;
        }
        EXPECT_FALSE(window());
        EXPECT_EQ(stored.toDouble(), c.stored);
        QFile file(app.settingsFile()); // on disk as a number, for the next run
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll().contains("UpgradeTimeoutSeconds=" + QByteArray::number(c.stored) + "\n"));
        EXPECT_EQ(openAndRead(), QString::number(c.stored));
        restart();
    }
}

TEST_F(Preferences, OnlySaveStores)
{
    app.delegate->openPreferences();
    QWidget *w = window();
    QTest::keyClicks(field(), QStringLiteral("5"));
    QTest::keyClick(field(), Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_TRUE(w->isVisible());
    w->close();
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(openAndRead(), QStringLiteral("6005"));
    EXPECT_EQ(window(), w);
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(QFile::exists(app.settingsFile()));
}

// Where no window manager runs, nothing but the program hands the keyboard
// back: however Preferences closes, the main window is active again with the
// keyboard in its table. Escape, like the close button, saves nothing and
// keeps the typed text for the next open.
TEST(PreferencesKeyboard, EveryCloseGivesTheKeyboardBackToTheTable)
{
    LaunchedApp app(1);
    const QWidget *main = app.delegate->mainWindow();
    ASSERT_TRUE(serveUntil([&] { return QApplication::activeWindow() == main; }));
    const struct {
        const char *name;
        std::function<void(PreferencesWindow *)> close;
        bool saves;
    } ways[] = {
        {"Escape", [](PreferencesWindow *w) { QTest::keyClick(w->field(), Qt::Key_Escape); }, false},
        {"close button", [](PreferencesWindow *w) { w->close(); }, false},
        {"Save", [](PreferencesWindow *w) { QTest::mouseClick(w->findChild<QPushButton *>(), Qt::LeftButton); }, true},
    };
    for (const auto &c : ways) {
        SCOPED_TRACE(c.name);
        app.delegate->openPreferences();
        PreferencesWindow *w = app.delegate->preferences();
        ASSERT_TRUE(serveUntil([&] { return QApplication::activeWindow() == w; }));
        w->field()->setText(QStringLiteral("45"));
        c.close(w);
        EXPECT_TRUE(serveUntil([&] { return QApplication::activeWindow() == main; }, 2000));
        EXPECT_EQ(QApplication::focusWidget(), app.table());
        EXPECT_EQ(QSettings(app.settingsFile(), QSettings::NativeFormat).contains(UpgradeTimeoutKey), c.saves);
        if (c.saves) {
            EXPECT_EQ(app.delegate->preferences(), nullptr);
            continue;
        }
        EXPECT_FALSE(w->isVisible());
        app.delegate->openPreferences();
        EXPECT_EQ(w->field()->text(), QStringLiteral("45"));
        w->field()->clear();
        w->close();
    }

    // A main window the user closed stays closed.
    QApplication::setQuitOnLastWindowClosed(false);
    const auto restore = qScopeGuard([] { QApplication::setQuitOnLastWindowClosed(true); });
    app.delegate->mainWindow()->close();
    app.delegate->openPreferences();
    QTest::keyClick(app.delegate->preferences()->field(), Qt::Key_Escape);
    serveUntil([] { return false; }, 200);
    EXPECT_FALSE(main->isVisible());
}

TEST_F(Preferences, UnwritableSettingsKeepTheWindowAndSayWhy)
{
    const struct {
        const char *name, *folder /* made where the settings need a file */, *reason;
    } cases[] = {
        {"file taken by a folder", "", ": Filename refers to a directory"},
        {"lock taken by a folder", ".lock", ": its lock file "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QDir().mkpath(app.settingsFile() + QLatin1String(c.folder));
        app.delegate->openPreferences();
        LogCapture log;
        typeAndSave(QStringLiteral("20"));
        const QString line = log.texts().join(u'|');
        EXPECT_TRUE(line.startsWith("Failed to save preferences: cannot write " + app.settingsFile() + c.reason))
            << line.toStdString();
        ASSERT_TRUE(window());
        EXPECT_TRUE(window()->isVisible());
        EXPECT_EQ(field()->text(), QStringLiteral("20"));
        window()->close();
        QDir(app.settingsFile() + QLatin1String(c.folder)).removeRecursively();
        EXPECT_FALSE(QSettings(app.settingsFile(), QSettings::NativeFormat).contains(UpgradeTimeoutKey));
    }
}

// A disk that fills: the value is not on disk, so the window stays, with the
// system's reason in the log, and the file keeps what it held.
TEST(PreferencesFullDisk, KeepsTheWindowAndSaysWhy)
{
    const QString full = qEnvironmentVariable("QUORVALE_FULL_DIR");
    if (full.isEmpty())
        GTEST_SKIP() << "needs a small file system of its own";
    const QString settings = full + QStringLiteral("/Quorvale/Quorvale.conf");
    ASSERT_TRUE(QDir().mkpath(full + QStringLiteral("/Quorvale")));
    {
        QFile file(settings);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("[General]\nUpgradeTimeoutSeconds=30\n") > 0);
        file.close(); // on disk before the disk fills
        QFile filler(full + QStringLiteral("/filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(512, 'x')) == 512) {
        }
    }
    QTemporaryDir dir;
    AppDelegate delegate(std::make_unique<FakeUsbSource>(),
                         {settings, dir.filePath(QStringLiteral("tool.lock")), dir.filePath(QStringLiteral("history.sqlite"))});
    delegate.openPreferences();
    PreferencesWindow *window = delegate.preferences();
    ASSERT_TRUE(window);
    window->field()->setText(QStringLiteral("45"));
    LogCapture log;
    QTest::mouseClick(window->findChild<QPushButton *>(), Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(log.texts(), QStringList{"Failed to save preferences: cannot write " + settings + ": No space left on device"});
    ASSERT_EQ(delegate.preferences(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->field()->text(), QStringLiteral("45"));
    QFile file(settings);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "[General]\nUpgradeTimeoutSeconds=30\n");
}
