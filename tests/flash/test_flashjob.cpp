#include "flash/flashjob.h"

#include "history/historystore.h"
#include "logcapture.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>

namespace {

DeviceRecord dock(int devnum = 3)
{
    DeviceRecord record{QStringLiteral("Talvex"), QStringLiteral("TD-70"), QStringLiteral("1.0.3"),
                        QStringLiteral("/sys/bus/usb/devices/1-2"), 1, devnum};
    record.serial = QStringLiteral("TD70A2611042");
    return record;
}

// A job over a temporary history, the simulator as the tool, the docks as the
// test lists them.
struct Job : ::testing::Test {
    void SetUp() override
    {
        qputenv("TALVEX_SIM_PACE_MS", "1");
        qputenv("TALVEX_SIM_STATE", dir.filePath(QStringLiteral("state")).toLocal8Bit());
        qputenv("TALVEX_SIM_ARGS_LOG", dir.filePath(QStringLiteral("args")).toLocal8Bit());
        qunsetenv("TALVEX_SIM_MISBEHAVE");
        for (const QStringList &extra : {QStringList{image("dock.bin")}, QStringList{image("bad.bin"), "--corrupt"}})
            ASSERT_EQ(QProcess::execute(QStringLiteral(MAKE_FIRMWARE_IMAGE_PATH),
                                        QStringList{"--version", "2.1.0", "--out"} + extra), 0);
        setup.tools = {QFileInfo(QStringLiteral(TALVEX_SIMULATOR_PATH)).path(), {}};
        setup.docks = {[this] { return docks; }, [this] { return docks; }};
        setup.lockPath = dir.filePath(QStringLiteral("tool.lock"));
        setup.imageDirectory = setup.logDirectory = dir.path();
        setup.history = &history;
    }
    QString image(const char *name) const { return dir.filePath(QLatin1String(name)); }
    // Runs one job to its end; the record it left.
    FlashRecord flash(const QString &file, const std::function<void()> &meanwhile = {})
    {
        FlashJob job(setup, dock(), file, std::chrono::seconds(600));
        QEventLoop loop;
        QObject::connect(&job, &FlashJob::finished, &loop, &QEventLoop::quit);
        QObject::connect(&job, &FlashJob::toolStarting, [&] { running = history.running(); });
        QTimer::singleShot(15000, &loop, &QEventLoop::quit);
        if (job.start()) {
            if (meanwhile)
                meanwhile();
            loop.exec();
        }
        EXPECT_TRUE(job.isFinished());
        outcome = job.outcome();
        const QList<FlashRecord> rows = history.recent();
        return rows.isEmpty() ? FlashRecord() : *history.record(rows.first().id);
    }

    QTemporaryDir dir;
    HistoryStore history{dir.filePath(QStringLiteral("history.sqlite"))};
    DeviceList docks{dock()};
    FlashSetup setup;
    FlashOutcome outcome;
    QList<FlashRecord> running; // as the tool started
};

// The attempt is on record, committed, before the tool starts, and complete
// once it ends: the dock, the versions, the image as the tool got it, the
// limit, the result and the words the user was shown, the log, the output.
TEST_F(Job, RecordsAnUpgradeBeforeAndAfter)
{
    QFile file(image("dock.bin"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const FlashRecord row = flash(image("dock.bin"));
    ASSERT_EQ(running.size(), 1);
    EXPECT_EQ(running[0].result, FlashResult::Running);
    EXPECT_EQ(running[0].id, row.id);
    EXPECT_EQ(outcome.historyId, row.id);
    EXPECT_EQ(row.result, FlashResult::Success);
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(row.message, QStringLiteral("Firmware upgrade successful!"));
    EXPECT_EQ(row.message, outcome.message);
    EXPECT_EQ((QStringList{row.manufacturer, row.product, row.serial, row.syspath, row.versionBefore}),
              (QStringList{"Talvex", "TD-70", "TD70A2611042", "/sys/bus/usb/devices/1-2", "1.0.3"}));
    EXPECT_EQ(row.imagePath, image("dock.bin"));
    EXPECT_EQ(row.imageSize, bytes.size());
    EXPECT_EQ(row.imageSha256, QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()));
    EXPECT_EQ(row.silenceLimitSeconds, 600);
    EXPECT_TRUE(row.started.isValid() && row.ended >= row.started);
    EXPECT_TRUE(QFileInfo(row.logPath).isFile()) << row.logPath.toStdString();
    EXPECT_TRUE(row.outputTail.endsWith("Firmware update completed\n")) << row.outputTail.toStdString();
}

// Every attempt past the confirmation leaves a row, whatever kept it from
// flashing; no tool ran for a refusal.
TEST_F(Job, RecordsEveryEnding)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(image("fifo.bin")).constData(), 0600), 0);
    const auto otherDock = [this] { docks = {dock(), dock(9)}; docks[1].syspath += QLatin1String("-other"); };
    const struct {
        const char *name;
        std::function<void()> before;
        const char *image;
        FlashResult result;
        bool toolRan;
        QString message;
    } cases[] = {
        {"corrupt image", {}, "bad.bin", FlashResult::AbnormalEnd, true, QStringLiteral("Upgrade tool exited abnormally!")},
        {"two docks", otherDock, "dock.bin", FlashResult::Refused, false,
         QStringLiteral("More than one dock is connected, and the firmware tool cannot tell them apart. Unplug all docks but the one to upgrade, then try again.")},
        {"dock gone", [this] { docks.clear(); }, "dock.bin", FlashResult::Refused, false, {}},
        {"not an image", {}, "fifo.bin", FlashResult::Refused, false,
         image("fifo.bin") + QStringLiteral(" is not a firmware image: it is not a regular file.")},
        {"no tool", [this] { setup.tools = {dir.filePath(QStringLiteral("none")), {}}; }, "dock.bin",
         FlashResult::LaunchFailed, false,
         QStringLiteral("Failed to launch upgrade tool: Talvex_Firmware_Update not found in ") + dir.filePath(QStringLiteral("none"))},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        docks = {dock()};
        setup.tools = {QFileInfo(QStringLiteral(TALVEX_SIMULATOR_PATH)).path(), {}};
        if (c.before)
            c.before();
        QFile::remove(dir.filePath(QStringLiteral("args")));
        const FlashRecord row = flash(image(c.image));
        EXPECT_EQ(row.result, c.result);
        EXPECT_EQ(row.message, c.message);
        EXPECT_TRUE(row.ended.isValid());
        EXPECT_EQ(QFileInfo::exists(dir.filePath(QStringLiteral("args"))), c.toolRan);
    }
    EXPECT_TRUE(history.running().isEmpty());
}

// The history is a record, not a gate: a store that cannot be written costs
// the flash nothing.
TEST_F(Job, FlashesWithoutAWritableHistory)
{
    QFile::remove(dir.filePath(QStringLiteral("unwritable")));
    ASSERT_TRUE(QFile(dir.filePath(QStringLiteral("unwritable"))).open(QIODevice::WriteOnly)); // a file where the folder goes
    LogCapture log;
    HistoryStore broken(dir.filePath(QStringLiteral("unwritable/history.sqlite")));
    setup.history = &broken;
    flash(image("dock.bin"));
    EXPECT_EQ(outcome.kind, FlashOutcome::Kind::Ran);
    EXPECT_TRUE(outcome.success);
    EXPECT_FALSE(outcome.historyId);
}
} // namespace
