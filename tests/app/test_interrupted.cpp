#include "guitest.h"
#include "history/historystore.h"
#include "logcapture.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace {
// A controller whose history holds an upgrade still "running", as a program
// killed mid-flash leaves it; launched by each case.
struct Interrupted : ::testing::Test {
    void SetUp() override
    {
        app.answer = QStringLiteral("2.1.0");
        FlashRecord row;
        row.started = QDateTime::currentDateTimeUtc();
        row.manufacturer = QStringLiteral("Talvex");
        row.product = QStringLiteral("TD-70");
        row.imagePath = QStringLiteral("/media/stick/dock-2.1.0.bin");
        row.versionBefore = QStringLiteral("1.0.3");
        id = *history().begin(row);
    }
    HistoryStore &history() { return app.delegate->historyStore(); }
    void launch(int docks)
    {
        app.usb->setDocks(docks);
        app.delegate->applicationDidFinishLaunching();
    }

    Controller app;
    qint64 id = 0;
};

// While the tool of the upgrade on record may still flash (it holds the
// lock), nothing reads the dock; once it is gone, the version is read and
// the user told, and the record says how it ended.
TEST_F(Interrupted, WaitsForTheToolThenTellsWithTheVersionNow)
{
    QProcess tool; // the orphaned tool, holding the machine's lock
    tool.start(QStringLiteral("flock"), {QStringLiteral("--no-fork"), QStringLiteral("-x"), app.files().toolLock,
                                         QStringLiteral("sleep"), QStringLiteral("30")});
    ASSERT_TRUE(tool.waitForStarted());
    ASSERT_TRUE(serveUntil([&] { return ToolLock(app.files().toolLock).tryShared() == ToolLock::Result::Busy; }));
    LogCapture log;
    EveryAlert alerts;
    launch(1);
    serveUntil([] { return false; }, 3500); // past the first look again
    EXPECT_EQ(app.versionQueries, 0);
    EXPECT_TRUE(alerts.texts.isEmpty());
    EXPECT_EQ(log.texts().filter(QStringLiteral("An upgrade on record has not ended and the firmware tool is in use by process")).size(), 1);
    tool.kill();
    tool.waitForFinished();
    ASSERT_TRUE(serveUntil([&] { return !alerts.texts.isEmpty(); }, 8000));
    EXPECT_EQ(app.versionQueries, 1);
    EXPECT_EQ(alerts.headlines, QStringList{expectedText("Upgrade Interrupted", "升级中断")});
    const QString started = history().record(id)->started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm"));
    EXPECT_EQ(alerts.texts[0],
              expectedText("Quorvale closed before the upgrade of Talvex TD-70 with dock-2.1.0.bin, started %1, had finished. "
                           "The dock now reports firmware version 2.1.0.",
                           "Quorvale 在升级完成之前已关闭：Talvex TD-70，映像 dock-2.1.0.bin，开始于 %1。扩展坞现在报告的固件版本为 2.1.0。")
                  .arg(started));
    const FlashRecord row = *history().record(id);
    EXPECT_EQ(row.result, FlashResult::Interrupted);
    EXPECT_EQ(row.message, alerts.texts[0]);
    EXPECT_EQ(row.versionAfter, QStringLiteral("2.1.0"));
    EXPECT_TRUE(row.ended.isValid());
}

// No dock to read: told at once, to upgrade again; another copy that ended
// the row first leaves nothing to tell.
TEST_F(Interrupted, WithoutADockOrAfterAnotherCopy)
{
    for (const bool otherCopyFinished : {false, true}) {
        SCOPED_TRACE(otherCopyFinished ? "another copy finished it" : "no dock");
        if (otherCopyFinished) {
            SetUp();
            FlashRecord end;
            end.ended = QDateTime::currentDateTimeUtc();
            end.result = FlashResult::Success;
            ASSERT_TRUE(history().finish(id, end));
        }
        EveryAlert alerts;
        launch(0);
        serveUntil([] { return false; }, 300);
        if (otherCopyFinished) {
            EXPECT_TRUE(alerts.texts.isEmpty());
            continue;
        }
        ASSERT_EQ(alerts.texts.size(), 1);
        EXPECT_TRUE(alerts.texts[0].endsWith(expectedText("The dock's firmware version cannot be read now: upgrade it again.",
                                                          "现在无法读取扩展坞的固件版本：请重新升级。")));
        EXPECT_EQ(history().record(id)->result, FlashResult::Interrupted);
        EXPECT_TRUE(history().record(id)->versionAfter.isEmpty());
        EXPECT_TRUE(history().running().isEmpty());
    }
}
} // namespace
