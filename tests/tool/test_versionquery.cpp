#include "tool/versionquery.h"

#include "../common/logcapture.h"
#include "tooltest.h"
#include "core/printable.h"
#include "tool/firmwaretool.h"
#include "tool/tooloutput.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <optional>

using namespace std::chrono_literals;

namespace {

const QString SimulatedVersion = QStringLiteral("2.7.14");
const QString ToolName = QLatin1String(FirmwareToolName);
const QString Launching = QStringLiteral("[Sync] Launching firmware tool at: ");
const QString LimitLine = QStringLiteral("[Sync] Firmware tool did not finish within %1; stopped it");

// The outputs the queries of this test program saved, to be removed: other
// programs' saved outputs in /tmp are none of its business.
QStringList savedLogs;

// What one query returned and logged.
struct Query {
    std::optional<QString> version;
    QStringList texts; // every logged line
    QStringList lines; // only the [Sync] ones
    qint64 elapsedMs = 0;

    std::string dump() const { return texts.join(QLatin1Char('\n')).toStdString(); }
};

Query query(const FirmwareTool &tool, const ToolRunLimits &limits = versionQueryLimits(),
            const QString &logDirectory = QStringLiteral("/tmp"))
{
    Query q;
    LogCapture log;
    QElapsedTimer clock;
    clock.start();
    q.version = queryFirmwareVersionSync(tool, {}, limits, logDirectory);
    q.elapsedMs = clock.elapsed();
    q.texts = log.texts();
    q.lines = q.texts.filter(QRegularExpression(QStringLiteral("^\\[Sync\\] ")));
    for (const QString &line : std::as_const(q.lines))
        if (line.startsWith(QLatin1String("[Sync] Output saved to: ")))
            savedLogs << line.section(QStringLiteral("saved to: "), 1);
    return q;
}

class VersionQuery : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QFile::link(QStringLiteral(TALVEX_SIMULATOR_PATH), toolPath()));
        // Every test starts from the simulator's plain behaviour.
        for (const char *name : {"TALVEX_SIM_MISBEHAVE", "TALVEX_SIM_ARGS_LOG", "TALVEX_SIM_PACE_MS"})
            qunsetenv(name);
        qputenv("TALVEX_SIM_STATE", m_dir.filePath(QStringLiteral("dock-state")).toLocal8Bit());
        qputenv("TALVEX_SIM_VERSION", SimulatedVersion.toLatin1());
    }

    // The program keeps its saved outputs for support; a test run should not.
    void TearDown() override
    {
        qputenv("PATH", m_path);
        for (const QString &path : std::as_const(savedLogs))
            QFile::remove(path);
        savedLogs.clear();
    }

    QString toolPath() const { return m_dir.filePath(ToolName); }

    // A script by the tool's name, in a directory of its own.
    QString script(const QString &dir, const QByteArray &body)
    {
        EXPECT_TRUE(QDir(m_dir.path()).mkpath(dir));
        return writeScript(m_dir.filePath(dir + QLatin1Char('/') + ToolName), body);
    }

    QTemporaryDir m_dir;
    const QByteArray m_path = qgetenv("PATH");
};

TEST_F(VersionQuery, SavesOutputAndReadsVersion)
{
    // leftOut: too large to search whole. The garbage is not UTF-8.
    const struct { const char *misbehave; bool found; int status; bool leftOut; } cases[] = {
        {"", true, 0, false},          {"silent", false, 0, false}, {"exit1", true, 1, false}, {"sigkill", false, 9, false},
        {"sigsegv", false, 11, false}, {"garbage", true, 0, false}, {"flood", true, 0, true},  {"controls", false, 0, false},
    };
    const QString argsLog = m_dir.filePath(QStringLiteral("args.log"));
    qputenv("TALVEX_SIM_ARGS_LOG", argsLog.toLocal8Bit());
    qputenv("TALVEX_SIM_FLOOD_MB", "40"); // past what is kept in memory: the file still gets it all
    const QRegularExpression savedLine(QStringLiteral(
        "^\\[Sync\\] Output saved to: /tmp/talvex_sync_[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.log$"));
    const QRegularExpression leftOutLine(QStringLiteral(
        "^\\[Sync\\] Output too large to keep whole in memory: [0-9]+ bytes from its middle were left out of the "
        "version search; the saved log file has them$"));
    for (const auto &c : cases) {
        SCOPED_TRACE(*c.misbehave ? c.misbehave : "well behaved");
        qputenv("TALVEX_SIM_MISBEHAVE", c.misbehave);
        QProcess direct; // the tool run by hand, to compare the saved output with
        direct.setProcessChannelMode(QProcess::MergedChannels);
        direct.start(toolPath(), versionQueryArguments());
        direct.waitForFinished();
        QFile::remove(argsLog);
        Query q = query(toolPath());

        EXPECT_EQ(q.version, c.found ? std::optional(SimulatedVersion) : std::nullopt);
        ASSERT_EQ(q.lines.size(), c.leftOut ? 5 : 4) << q.dump();
        EXPECT_TRUE(savedLine.match(q.lines[1]).hasMatch()) << q.lines[1].toStdString();
        if (c.leftOut) {
            EXPECT_TRUE(leftOutLine.match(q.lines.takeAt(2)).hasMatch()) << q.dump();
        }
        EXPECT_EQ(q.lines[2], QStringLiteral("[Sync] Tool exited with status: %1").arg(c.status));
        EXPECT_EQ(q.lines[3], c.found ? QStringLiteral("[Sync] Found firmware version: ") + SimulatedVersion
                                      : QStringLiteral("[Sync] Version not found. Output:"));
        EXPECT_EQ(readFile(argsLog), QByteArrayLiteral("-vid\n21C4\n-pid\nB070\n-v\n-l\ndebug\n\n"));

        // The saved file is the whole output, byte for byte.
        const QByteArray saved = readFile(q.lines[1].section(QStringLiteral("Output saved to: "), 1));
        EXPECT_EQ(saved, direct.readAll());
        const QString text = decodeToolOutput(saved);
        // Without a version the whole output follows in the log, line by line,
        // with nothing that would steer a terminal.
        EXPECT_EQ(q.texts.mid(q.texts.indexOf(q.lines[3]) + 1),
                  c.found ? QStringList() : withoutControlCharacters(text, u"\n\t").split('\n', Qt::SkipEmptyParts));
    }
}

// Only the two folders count: a tool of that name in the working directory or
// on PATH never runs, and the query says why there is none to run.
TEST_F(VersionQuery, MissingToolFailsToLaunch)
{
    const QString marker = m_dir.filePath(QStringLiteral("ran"));
    const QString decoy = script(QStringLiteral("path"), "touch '" + marker.toLocal8Bit()
                                                                  + "'\necho 'Composite dock image version: 6.6.6'\n");
    qputenv("PATH", QFileInfo(decoy).path().toLocal8Bit() + ':' + qgetenv("PATH"));
    const QString none = m_dir.filePath(QStringLiteral("none"));
    const QString oldCwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QFileInfo(decoy).path()));
    const FirmwareTool tool = findFirmwareTool({none, m_dir.filePath(QStringLiteral("libexec"))});
    const Query q = query(tool);
    EXPECT_EQ(q.version, std::nullopt);
    // No launch line naming a path where nothing is.
    EXPECT_EQ(q.lines, QStringList({"[Sync] Failed to launch: " + tool.problem}));
    ASSERT_TRUE(QDir::setCurrent(oldCwd));
    EXPECT_FALSE(QFile::exists(marker));
}

// A tool that does not finish is asked to stop at the bound and killed if it will
// not, and a child it leaves holding the pipe is not waited for. The app's timers
// keep running meanwhile, and quitting the app during the wait neither cuts the
// query short nor leaves it spinning without serving events.
TEST_F(VersionQuery, OverrunningToolIsStopped)
{
    const QString stubborn = script(QStringLiteral("stubborn"),
                                    "trap '' TERM\necho 'Composite dock image version: 4.4.4'\n"
                                    // Gives up by itself, so a query that fails to kill it leaves nothing for long.
                                    "for i in 1 2 3 4 5 6 7 8 9 10; do sleep 1; done\n");
    const QString slow = script(QStringLiteral("slow"), "sleep 0.3\necho 'Composite dock image version: 5.0'\n");
    // limitLine: nullptr when the tool must not be stopped.
    const struct { const char *misbehave; QString tool; ToolRunLimits limits; const char *limitLine;
                   std::optional<QString> version; int status; qint64 minMs, maxMs; } cases[] = {
        {"hang", toolPath(), {.runLimit = 500ms, .killGrace = 500ms}, "0.5 seconds", std::nullopt, 15, 450, 2500},
        {"hang", stubborn, {.runLimit = 400ms, .killGrace = 400ms}, "0.4 seconds", QStringLiteral("4.4.4"), 9, 750, 2500},
        {"orphan", toolPath(), versionQueryLimits(), nullptr, SimulatedVersion, 0, 0, 1500},
        {"", slow, {.runLimit = 3000ms, .killGrace = 500ms}, nullptr, QStringLiteral("5.0"), 0, 250, 2500},
    };
    qputenv("TALVEX_SIM_ORPHAN_SECONDS", "5");
    EXPECT_EQ(runLimitLogLine(versionQueryLimits().runLimit), LimitLine.arg(QStringLiteral("20 seconds")));
    EXPECT_EQ(runLimitLogLine(1000ms), LimitLine.arg(QStringLiteral("1 second")));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tool == stubborn ? "ignores SIGTERM" : c.tool == slow ? "slow" : c.misbehave);
        qputenv("TALVEX_SIM_MISBEHAVE", c.misbehave);
        int ticks = 0;
        QTimer monitor, watchdog;
        QObject::connect(&monitor, &QTimer::timeout, [&] { ++ticks; });
        monitor.start(10);
        QObject::connect(&watchdog, &QTimer::timeout, qApp, &QCoreApplication::quit);
        watchdog.start(10000);
        std::optional<Query> q;
        QTimer::singleShot(0, [&] {
            QTimer::singleShot(50, qApp, &QCoreApplication::quit);
            q = query(c.tool, c.limits);
        });
        QCoreApplication::exec();

        ASSERT_TRUE(q.has_value());
        EXPECT_EQ(q->version, c.version);
        EXPECT_GE(q->elapsedMs, c.minMs);
        EXPECT_LT(q->elapsedMs, c.maxMs);
        EXPECT_GE(ticks, q->elapsedMs / 50); // the 10 ms timer kept firing while the query waited
        EXPECT_EQ(q->lines.contains(LimitLine.arg(QLatin1String(c.limitLine))), c.limitLine != nullptr) << q->dump();
        EXPECT_TRUE(q->lines.contains(QStringLiteral("[Sync] Tool exited with status: %1").arg(c.status))) << q->dump();
    }
}

// A full disk must show as a failed save with the system's reason, never as a
// saved empty or cut file, whether it was full before the run or fills during
// it, and the version is still read. Runs where QUORVALE_FULL_DIR is a tiny
// file system of its own (see CMakeLists.txt).
TEST(VersionQueryFullDisk, ReportsTheFailedSave)
{
    const QString full = qEnvironmentVariable("QUORVALE_FULL_DIR");
    if (full.isEmpty())
        GTEST_SKIP() << "needs a small file system of its own";
    qputenv("TALVEX_SIM_VERSION", "3.1.4");
    qputenv("TALVEX_SIM_FLOOD_MB", "1");
    for (const char *misbehave : {"flood", ""}) { // more than the disk holds; then a disk full from the start
        SCOPED_TRACE(misbehave);
        qputenv("TALVEX_SIM_MISBEHAVE", misbehave);
        const Query q = query(QStringLiteral(TALVEX_SIMULATOR_PATH), versionQueryLimits(), full);
        EXPECT_EQ(q.version, QStringLiteral("3.1.4"));
        ASSERT_EQ(q.lines.size(), 4) << q.dump();
        EXPECT_EQ(q.lines[1], QStringLiteral("[Sync] Failed to write tmp: No space left on device"));
        EXPECT_EQ(QDir(full).entryList(QDir::Files | QDir::Hidden), *misbehave ? QStringList() : QStringList{"filler"});

        QFile filler(full + QStringLiteral("/filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(512, 'x')) == 512) {
        }
    }
    // Room for one page: the output's one and last write goes in short, and
    // only writing on tells why the rest cannot follow.
    ASSERT_TRUE(QFile::resize(full + QStringLiteral("/filler"), 12288));
    QTemporaryDir dir;
    const QString tool = writeScript(dir.filePath(ToolName), "printf '%6000s\\nComposite dock image version: 3.1.4\\n' x\n");
    const Query q = query(tool, versionQueryLimits(), full);
    EXPECT_EQ(q.version, QStringLiteral("3.1.4"));
    ASSERT_EQ(q.lines.size(), 4) << q.dump();
    EXPECT_EQ(q.lines[1], QStringLiteral("[Sync] Failed to write tmp: No space left on device"));
    EXPECT_EQ(QDir(full).entryList(QDir::Files | QDir::Hidden), QStringList{"filler"});
}

} // namespace
