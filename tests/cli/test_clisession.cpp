#include "cli/clisession.h"

#include "devices/udevusbsource.h"
#include "history/historystore.h"
#include "logcapture.h"
#include "usbtestbed.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {
// A command run as quorvale-cli runs it, over the testbed's docks, the
// simulator as the tool and files of the test's own.
struct Session : ::testing::Test {
    void SetUp() override
    {
        ASSERT_TRUE(UsbTestbed::available()) << "run this test under umockdev-wrapper";
        qputenv("TALVEX_SIM_PACE_MS", "40");
        qputenv("TALVEX_SIM_STATE", dir.filePath(QStringLiteral("state")).toLocal8Bit());
        qputenv("TALVEX_SIM_ARGS_LOG", dir.filePath(QStringLiteral("args")).toLocal8Bit());
        qunsetenv("TALVEX_SIM_MISBEHAVE");
        ASSERT_EQ(QProcess::execute(QStringLiteral(MAKE_FIRMWARE_IMAGE_PATH),
                                    {"--version", "2.1.0", "--out", image()}), 0);
        env.tools = {QFileInfo(QStringLiteral(TALVEX_SIMULATOR_PATH)).path(), {}};
        env.settingsPath = dir.filePath(QStringLiteral("Quorvale.conf"));
        env.historyPath = dir.filePath(QStringLiteral("history.sqlite"));
        env.lockPath = dir.filePath(QStringLiteral("tool.lock"));
        env.usbSource = [] { return std::make_unique<UdevUsbSource>(); };
        env.out = [this](const QByteArray &bytes) { out += bytes; };
        env.err = [this](const QByteArray &bytes) { err += bytes; };
        env.status = env.err;
    }
    QString image() const { return dir.filePath(QStringLiteral("dock-2.1.0.bin")); }
    // Runs the command to its end (20 s at most); its exit status, -1 if it never ended.
    int run(const QStringList &arguments, const std::function<void(CliSession &)> &meanwhile = {})
    {
        const CliRequest request = parseCliArguments(arguments);
        EXPECT_TRUE(request.error.isEmpty());
        CliSession session(request, env);
        int status = -1;
        QEventLoop loop;
        QObject::connect(&session, &CliSession::finished, &loop, [&](int s) {
            status = s;
            loop.quit();
        });
        QTimer::singleShot(20s, &loop, &QEventLoop::quit);
        QTimer::singleShot(0, &session, &CliSession::start);
        if (meanwhile)
            QTimer::singleShot(0, &session, [&] { meanwhile(session); });
        loop.exec();
        return status;
    }
    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
    // Whether the simulator was ever asked to flash.
    bool flashed() const
    {
        QFile args(dir.filePath(QStringLiteral("args")));
        return args.open(QIODevice::ReadOnly) && args.readAll().contains("-i\n");
    }

    QTemporaryDir dir;
    UsbTestbed testbed;
    CliEnvironment env;
    QByteArray out, err;
    LogCapture log;
};
} // namespace

TEST_F(Session, ListWithAndWithoutADock)
{
    EXPECT_EQ(run({"list", "--json"}), int(ExitStatus::NothingToDo));
    EXPECT_EQ(json().value(QStringLiteral("docks")).toArray().size(), 0);
    testbed.addDock();
    out.clear();
    EXPECT_EQ(run({"list", "--json"}), int(ExitStatus::Done));
    const QJsonArray docks = json().value(QStringLiteral("docks")).toArray();
    ASSERT_EQ(docks.size(), 1);
    EXPECT_EQ(docks.at(0).toObject().value(QStringLiteral("version")).toString(), QStringLiteral("1.0.3"));
}

// A dock plugged in is heard from udev's event, not found by a tick: the
// tick here would come in an hour.
TEST_F(Session, WaitHearsTheDockPluggedIn)
{
    env.tickInterval = std::chrono::hours(1);
    const int status = run({"wait", "--json", "--timeout", "10"}, [this](CliSession &) {
        QTimer::singleShot(200ms, [this] {
            const QString dock = testbed.addDock();
            testbed.uevent(dock, "add");
        });
    });
    EXPECT_EQ(status, int(ExitStatus::Done));
    const QJsonArray docks = json().value(QStringLiteral("docks")).toArray();
    ASSERT_EQ(docks.size(), 1);
    EXPECT_EQ(docks.at(0).toObject().value(QStringLiteral("version")).toString(), QStringLiteral("1.0.3"));
}

TEST_F(Session, WaitGivesUp)
{
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(run({"wait", "--json", "--timeout", "1"}), int(ExitStatus::NotFound));
    EXPECT_GE(timer.elapsed(), 1000);
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(json().value(QStringLiteral("docks")).toArray().size(), 0);
}

// Without a terminal to ask on, and without --yes, nothing is flashed and
// nothing recorded.
TEST_F(Session, RefusesWithoutTerminalOrYes)
{
    testbed.addDock();
    env.askable = false;
    EXPECT_EQ(run({"upgrade", image(), "--json"}), int(ExitStatus::Failure));
    EXPECT_EQ(json().value(QStringLiteral("result")).toString(), QStringLiteral("not confirmed"));
    EXPECT_FALSE(json().value(QStringLiteral("message")).toString().isEmpty());
    EXPECT_FALSE(flashed());
    EXPECT_FALSE(QFileInfo::exists(env.historyPath));
}

// The answer read from the terminal: "yes" flashes, anything else does not.
TEST_F(Session, AsksAndTakesTheAnswer)
{
    testbed.addDock();
    env.askable = true;
    for (const auto &[answer, flashes] : {std::pair{"no\n", false}, std::pair{"", false}, std::pair{" YES \n", true}}) {
        SCOPED_TRACE(answer);
        int input[2];
        ASSERT_EQ(::pipe(input), 0);
        env.inputFd = input[0];
        out.clear();
        err.clear();
        const int status = run({"upgrade", image(), "--json", "--timeout", "60"}, [&](CliSession &) {
            QTimer::singleShot(100ms, [&] {
                [[maybe_unused]] const ssize_t n = ::write(input[1], answer, std::strlen(answer));
                ::close(input[1]);
            });
        });
        ::close(input[0]);
        EXPECT_TRUE(err.contains("[y/N]"));
        EXPECT_EQ(status, flashes ? 0 : 1);
        EXPECT_EQ(flashed(), flashes);
        EXPECT_EQ(json().value(QStringLiteral("result")).toString(), flashes ? "success" : "not confirmed");
    }
}

// --yes flashes at once; a signal during the flash does not cut it: the
// program ends with the flash, with its status, and the version read again
// is in the JSON and on record.
TEST_F(Session, SignalNeverCutsTheFlash)
{
    testbed.addDock();
    // Once the tool runs: its status line is out.
    QTimer flashing;
    const int status = run({"upgrade", image(), "--yes", "--json", "--timeout", "60"}, [&](CliSession &session) {
        QObject::connect(&flashing, &QTimer::timeout, &session, [&] {
            if (!err.contains("do not disconnect"))
                return;
            flashing.stop();
            session.signalReceived(SIGINT);
            QTimer::singleShot(100ms, &session, [&session] { session.signalReceived(SIGTERM); });
        });
        flashing.start(10);
    });
    EXPECT_EQ(status, int(ExitStatus::Done));
    const QJsonObject result = json();
    EXPECT_EQ(result.value(QStringLiteral("result")).toString(), QStringLiteral("success"));
    EXPECT_EQ(result.value(QStringLiteral("versionBefore")).toString(), QStringLiteral("1.0.3"));
    EXPECT_EQ(result.value(QStringLiteral("versionAfter")).toString(), QStringLiteral("2.1.0"));
    EXPECT_EQ(result.value(QStringLiteral("silenceLimitSeconds")).toInt(), 60);
    EXPECT_EQ(err.count("upgrade goes on"), 1) << err.constData();
    HistoryStore history(env.historyPath);
    const std::optional<FlashRecord> row = history.record(result.value(QStringLiteral("historyId")).toInteger());
    ASSERT_TRUE(row);
    EXPECT_EQ(row->versionAfter, QStringLiteral("2.1.0"));
    EXPECT_EQ(row->result, FlashResult::Success);
    EXPECT_EQ(result.value(QStringLiteral("image")).toObject().value(QStringLiteral("sha256")).toString(), row->imageSha256);
}

// Outside a flash, a signal just ends the command.
TEST_F(Session, SignalEndsAQuestion)
{
    testbed.addDock();
    env.askable = true;
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    env.inputFd = input[0];
    const int status = run({"upgrade", image()}, [](CliSession &session) {
        QTimer::singleShot(200ms, &session, [&session] { session.signalReceived(SIGINT); });
    });
    ::close(input[0]);
    ::close(input[1]);
    EXPECT_EQ(status, int(ExitStatus::Failure));
    EXPECT_FALSE(flashed());
}

TEST_F(Session, HistoryNewestFirstAndLimited)
{
    EXPECT_EQ(run({"history", "--json"}), 0);
    EXPECT_EQ(json().value(QStringLiteral("upgrades")).toArray().size(), 0);
    EXPECT_FALSE(QFileInfo::exists(env.historyPath)); // asking made no history
    {
        HistoryStore history(env.historyPath);
        for (int i = 0; i < 3; ++i) {
            FlashRecord row;
            row.started = QDateTime::currentDateTimeUtc().addSecs(i);
            row.imagePath = QStringLiteral("/img/%1.bin").arg(i);
            row.imageSize = 100 + i;
            const std::optional<qint64> id = history.begin(row);
            ASSERT_TRUE(id);
            row.result = FlashResult::Success;
            row.ended = row.started.addSecs(1);
            history.finish(*id, row);
        }
    }
    out.clear();
    EXPECT_EQ(run({"history", "--json", "--limit", "2"}), 0);
    const QJsonArray rows = json().value(QStringLiteral("upgrades")).toArray();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows.at(0).toObject().value(QStringLiteral("image")).toObject().value(QStringLiteral("path")).toString(),
              QStringLiteral("/img/2.bin"));
    EXPECT_EQ(rows.at(0).toObject().value(QStringLiteral("image")).toObject().value(QStringLiteral("size")).toInt(), 102);
    EXPECT_EQ(rows.at(0).toObject().value(QStringLiteral("result")).toString(), QStringLiteral("success"));
}
