#include "guitest.h"
#include "logcapture.h"
#include "ui/preferencesvalue.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {
// Every test keeps its settings in a folder of its own.
class Preferences : public ::testing::Test {
protected:
    void SetUp() override
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Quorvale"));
        QCoreApplication::setApplicationName(QStringLiteral("Quorvale"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
    }
    QString settingsFile() const { return home.filePath(QStringLiteral("Quorvale/Quorvale.conf")); }
    void writeFile(const QByteArray &text)
    {
        QDir(home.path()).mkpath(QStringLiteral("Quorvale"));
        QFile file(settingsFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    QString openAndRead()
    {
        d.openPreferences();
        return d.timeoutField->text();
    }
    // The window must be open: opening it logs a warning on the offscreen platform.
    void typeAndSave(const QString &text)
    {
        d.timeoutField->setText(text);
        QTest::mouseClick(d.preferencesWindow->findChild<QPushButton *>(), Qt::LeftButton);
        QCoreApplication::processEvents();
    }

    QTemporaryDir home;
    AppDelegate d{std::make_unique<FakeUsbSource>(), ToolDirectories{},
                  [](const FirmwareTool &) { return std::optional<QString>(); }};
};
} // namespace

TEST_F(Preferences, FirstOpenShowsThirtyInTheWindowAsDescribed)
{
    EXPECT_EQ(openAndRead(), QStringLiteral("30"));
    QWidget &window = *d.preferencesWindow;
    const Qt::WindowFlags wanted = Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    EXPECT_EQ(window.windowFlags() & wanted, wanted);
    EXPECT_FALSE(window.windowFlags() & (Qt::WindowMinMaxButtonsHint | Qt::WindowStaysOnTopHint));
    EXPECT_EQ(window.windowTitle(), expectedText("Preferences", "偏好设置"));
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(window.geometry(), QRect(available.left() + 200, available.bottom() + 1 - 340, 360, 140));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    const auto *label = window.findChild<QLabel *>();
    EXPECT_EQ(label->text(),
              expectedText("Upgrade timeout (seconds, 0 to disable):", "升级超时\uFF08秒\uFF0C0 表示禁用\uFF09\uFF1A"));
    EXPECT_EQ(label->geometry(), QRect(20, 38, 320, 22));
    EXPECT_EQ(d.timeoutField->geometry(), QRect(20, 68, 120, 24));
    const auto *save = window.findChild<QPushButton *>();
    EXPECT_EQ(save->text(), expectedText("Save", "保存"));
    EXPECT_EQ(save->geometry(), QRect(240, 100, 100, 28));
}

TEST_F(Preferences, ShowsTheStoredValueRounded)
{
    const struct {
        const char *name;
        QByteArray stored;
        const char *shown;
    } cases[] = { // neighbours differ in size: Qt rereads a file whose size or time changed
        {"45", "45", "45"}, {"12.7", "12.7", "13"}, {"2.5, rounded as printf does", "2.5", "2"}, {"-5", "-5", "-5"},
        {"the string 15", "\"15\"", "15"}, {"a list", "15, 20", "30"},
        {"a broken variant", "@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x10)", "30"},
        {"binary junk", QByteArray("\0\xff[[\n=\n[General\n", 16), "0"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        writeFile("[General]\nUpgradeTimeoutSeconds=" + c.stored + "\n");
        EXPECT_EQ(openAndRead(), QString::fromLatin1(c.shown));
        d.preferencesWindow.reset();
    }
}

TEST_F(Preferences, SaveStoresTheParsedDouble)
{
    const struct {
        const char *typed;
        double stored;
        const char *shownNext;
        QByteArray fileBefore;
    } cases[] = {
        {"30", 30, "30", ""}, // the text first shown, saved as it is
        {"abc", 0, "0", ""},
        // Replaced while the window was open by a file Qt cannot parse.
        {"20s", 20, "20", "[General\nUpgradeTimeoutSeconds=7\n"},
        {"2.7", 2.7, "3", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        d.openPreferences();
        if (!c.fileBefore.isEmpty())
            writeFile(c.fileBefore);
        LogCapture log;
        typeAndSave(QString::fromLatin1(c.typed));
        EXPECT_TRUE(log.texts().isEmpty());
        EXPECT_FALSE(d.preferencesWindow);
        const QVariant stored = QSettings().value(UpgradeTimeoutKey);
        EXPECT_EQ(stored.typeId(), QMetaType::Double);
        EXPECT_EQ(stored.toDouble(), c.stored);
        // On disk, for the next run.
        QFile file(settingsFile());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll().contains("UpgradeTimeoutSeconds=" + QByteArray::number(c.stored) + "\n"));
        EXPECT_EQ(openAndRead(), QString::fromLatin1(c.shownNext));
        d.preferencesWindow.reset();
    }
}

TEST_F(Preferences, OnlySaveStores)
{
    d.openPreferences();
    QWidget *window = d.preferencesWindow.get();
    QTest::keyClicks(d.timeoutField, QStringLiteral("5"));
    QTest::keyClick(d.timeoutField, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_TRUE(window->isVisible());
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(openAndRead(), QStringLiteral("305"));
    EXPECT_EQ(d.preferencesWindow.get(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(QFile::exists(settingsFile()));
}

TEST_F(Preferences, UnwritableSettingsKeepTheWindowAndSayWhy)
{
    const struct {
        const char *name, *folder /* made where the settings need a file */, *reason;
    } cases[] = {
        {"file taken by a folder", "Quorvale/Quorvale.conf", ": Filename refers to a directory"},
        {"lock taken by a folder", "Quorvale/Quorvale.conf.lock", ": its lock file "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir place;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, place.path());
        QDir(place.path()).mkpath(QString::fromLatin1(c.folder));
        d.openPreferences();
        LogCapture log;
        typeAndSave(QStringLiteral("20"));
        const QString path = place.filePath(QStringLiteral("Quorvale/Quorvale.conf"));
        const QString line = log.texts().join(u'|');
        EXPECT_TRUE(line.startsWith("Failed to save preferences: cannot write " + path + c.reason))
            << line.toStdString();
        ASSERT_TRUE(d.preferencesWindow);
        EXPECT_TRUE(d.preferencesWindow->isVisible());
        EXPECT_EQ(d.timeoutField->text(), QStringLiteral("20"));
        EXPECT_FALSE(QSettings().contains(UpgradeTimeoutKey));
        d.preferencesWindow.reset();
    }
}
