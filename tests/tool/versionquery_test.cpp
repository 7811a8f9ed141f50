#include "tool/versionquery.h"

#include "../common/logcapture.h"
#include "qtprint.h"
#include "tool/firmwaretool.h"
#include "tool/tooloutput.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <optional>
#include <utility>
#include <vector>

using namespace std::chrono_literals;

namespace {

const QString SimulatedVersion = QStringLiteral("2.7.14");

// Sets environment variables for one test and puts the old values back.
class EnvGuard {
public:
    EnvGuard() = default;
    EnvGuard(const EnvGuard &) = delete;
    EnvGuard &operator=(const EnvGuard &) = delete;
    ~EnvGuard()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it)
            it->second ? qputenv(it->first, *it->second) : qunsetenv(it->first);
    }
    void set(const char *name, const QByteArray &value)
    {
        save(name);
        qputenv(name, value);
    }
    void unset(const char *name)
    {
        save(name);
        qunsetenv(name);
    }

private:
    void save(const char *name)
    {
        m_saved.emplace_back(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
    }
    std::vector<std::pair<const char *, std::optional<QByteArray>>> m_saved;
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("<unreadable>");
    return file.readAll();
}

void writeScript(const QString &path, const QByteArray &body)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + body);
    file.close();
    ASSERT_TRUE(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

QStringList syncLogFiles()
{
    return QDir(QStringLiteral("/tmp")).entryList({QStringLiteral("talvex_sync_*.log")}, QDir::Files);
}

class VersionQuery : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_logsBefore = syncLogFiles();
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QFile::link(QStringLiteral(TALVEX_SIMULATOR_PATH), toolPath()));
        m_env.set("TALVEX_SIM_STATE", m_dir.filePath(QStringLiteral("dock-state")).toLocal8Bit());
        m_env.set("TALVEX_SIM_VERSION", SimulatedVersion.toLatin1());
        for (const char *name : {"TALVEX_SIM_MISBEHAVE", "TALVEX_SIM_ARGS_LOG", "TALVEX_SIM_FLOOD_MB",
                                 "TALVEX_SIM_ORPHAN_SECONDS", "TALVEX_SIM_PACE_MS"})
            m_env.unset(name);
    }

    // The program keeps its saved outputs for support; a test run should not.
    // The tests hold a lock on these names (see CMakeLists.txt), so whatever
    // appeared meanwhile is theirs.
    void TearDown() override
    {
        for (const QString &name : syncLogFiles()) {
            if (!m_logsBefore.contains(name))
                QFile::remove(QStringLiteral("/tmp/") + name);
        }
    }

    QString toolPath() const { return m_dir.filePath(QStringLiteral("Talvex_Firmware_Update")); }

    // The tool's output when run by hand, to compare the saved log with.
    QByteArray runDirectly() const
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(toolPath(), versionQueryArguments());
        process.waitForFinished(30000);
        return process.readAll();
    }

    static QStringList syncLines(const LogCapture &log)
    {
        return log.texts().filter(QRegularExpression(QStringLiteral("^\\[Sync\\] ")));
    }

    static QString savedPath(const QStringList &lines)
    {
        const QString prefix = QStringLiteral("[Sync] Output saved to: ");
        for (const QString &line : lines) {
            if (line.startsWith(prefix))
                return line.mid(prefix.size());
        }
        return {};
    }

    QStringList m_logsBefore;
    QTemporaryDir m_dir;
    EnvGuard m_env;
};

TEST_F(VersionQuery, FindsVersionAndSavesOutput)
{
    const QByteArray direct = runDirectly();
    const QString argsLog = m_dir.filePath(QStringLiteral("args.log"));
    m_env.set("TALVEX_SIM_ARGS_LOG", argsLog.toLocal8Bit());
    LogCapture log;
    const std::optional<QString> version = queryFirmwareVersionSync(toolPath());
    const QStringList lines = syncLines(log);

    EXPECT_EQ(version, SimulatedVersion);
    ASSERT_EQ(lines.size(), 4) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("[Sync] Launching firmware tool at: ") + toolPath());
    EXPECT_TRUE(QRegularExpression(QStringLiteral(
                    "^\\[Sync\\] Output saved to: /tmp/talvex_sync_[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.log$"))
                    .match(lines[1])
                    .hasMatch())
        << lines[1].toStdString();
    EXPECT_EQ(lines[2], QStringLiteral("[Sync] Tool exited with status: 0"));
    EXPECT_EQ(lines[3], QStringLiteral("[Sync] Found firmware version: ") + SimulatedVersion);
    EXPECT_TRUE(direct.contains("Composite dock image version: " + SimulatedVersion.toLatin1()));
    EXPECT_EQ(readFile(savedPath(lines)), direct);
    EXPECT_EQ(readFile(argsLog), QByteArrayLiteral("-vid\n21C4\n-pid\nB070\n-v\n-l\ndebug\n\n"));
}

TEST_F(VersionQuery, SilentToolGivesEmptyLogAndNoVersion)
{
    m_env.set("TALVEX_SIM_MISBEHAVE", "silent");
    LogCapture log;
    EXPECT_EQ(queryFirmwareVersionSync(toolPath()), std::nullopt);
    const QStringList lines = syncLines(log);
    ASSERT_EQ(lines.size(), 4) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(lines[2], QStringLiteral("[Sync] Tool exited with status: 0"));
    EXPECT_EQ(lines[3], QStringLiteral("[Sync] Version not found. Output:"));
    const QString saved = savedPath(lines);
    ASSERT_TRUE(QFile::exists(saved));
    EXPECT_EQ(readFile(saved), QByteArray());
}

TEST_F(VersionQuery, FailedExitStillYieldsVersion)
{
    m_env.set("TALVEX_SIM_MISBEHAVE", "exit1");
    LogCapture log;
    EXPECT_EQ(queryFirmwareVersionSync(toolPath()), SimulatedVersion);
    const QStringList lines = syncLines(log);
    EXPECT_TRUE(lines.contains(QStringLiteral("[Sync] Tool exited with status: 1")));
    EXPECT_TRUE(lines.contains(QStringLiteral("[Sync] Found firmware version: ") + SimulatedVersion));
}

TEST_F(VersionQuery, CrashedToolLogsWhatItPrinted)
{
    const struct {
        const char *mode;
        int signal;
    } cases[] = {{"sigkill", 9}, {"sigsegv", 11}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mode);
        m_env.set("TALVEX_SIM_MISBEHAVE", c.mode);
        const QStringList printed = QString::fromUtf8(runDirectly()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        ASSERT_FALSE(printed.isEmpty());

        LogCapture log;
        EXPECT_EQ(queryFirmwareVersionSync(toolPath()), std::nullopt);
        const QStringList lines = syncLines(log);
        EXPECT_TRUE(lines.contains(QStringLiteral("[Sync] Tool exited with status: %1").arg(c.signal)));
        // The whole output follows the "not found" line, one log entry per line.
        const QStringList texts = log.texts();
        const qsizetype at = texts.indexOf(QStringLiteral("[Sync] Version not found. Output:"));
        ASSERT_GE(at, 0);
        EXPECT_EQ(texts.mid(at + 1), printed);
    }
}

TEST_F(VersionQuery, MissingToolFailsToLaunchWithoutLogFile)
{
    const QString missing = m_dir.filePath(QStringLiteral("nowhere/Talvex_Firmware_Update"));
    const QStringList before = syncLogFiles();
    LogCapture log;
    EXPECT_EQ(queryFirmwareVersionSync(missing), std::nullopt);
    const QStringList lines = syncLines(log);
    ASSERT_EQ(lines.size(), 2) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("[Sync] Launching firmware tool at: ") + missing);
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("[Sync] Failed to launch: "))) << lines[1].toStdString();
    EXPECT_GT(lines[1].size(), QStringLiteral("[Sync] Failed to launch: ").size());
    EXPECT_EQ(syncLogFiles(), before);
}

// A bare tool name means the working directory; a program of that name on
// PATH must never run in its place.
TEST_F(VersionQuery, BareNameIsNeverLookedUpInPath)
{
    QTemporaryDir pathDir;
    QTemporaryDir workDir;
    ASSERT_TRUE(pathDir.isValid() && workDir.isValid());
    const QString marker = pathDir.filePath(QStringLiteral("ran"));
    writeScript(pathDir.filePath(QStringLiteral("Talvex_Firmware_Update")),
                "touch '" + marker.toLocal8Bit() + "'\necho 'Composite dock image version: 6.6.6'\n");
    m_env.set("PATH", pathDir.path().toLocal8Bit() + ':' + qgetenv("PATH"));
    const QString bare = QStringLiteral("Talvex_Firmware_Update");
    const QString oldCwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(workDir.path()));

    LogCapture log;
    const std::optional<QString> notInCwd = queryFirmwareVersionSync(bare);
    const bool linked = QFile::link(QStringLiteral(TALVEX_SIMULATOR_PATH), workDir.filePath(bare));
    const std::optional<QString> inCwd = queryFirmwareVersionSync(bare);
    ASSERT_TRUE(QDir::setCurrent(oldCwd));
    ASSERT_TRUE(linked);

    EXPECT_EQ(notInCwd, std::nullopt);
    EXPECT_FALSE(QFile::exists(marker));
    EXPECT_EQ(inCwd, SimulatedVersion);
    const QStringList lines = syncLines(log);
    ASSERT_EQ(lines.size(), 6) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("[Sync] Launching firmware tool at: Talvex_Firmware_Update"));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("[Sync] Failed to launch: ")));
    EXPECT_EQ(lines[2], lines[0]);
    EXPECT_EQ(lines[5], QStringLiteral("[Sync] Found firmware version: ") + SimulatedVersion);
}

TEST(RunLimitLogLine, ReadsTheBound)
{
    EXPECT_EQ(runLimitLogLine(QueryBounds{}.runLimit),
              QStringLiteral("[Sync] Firmware tool did not finish within 20 seconds; stopped it"));
    EXPECT_EQ(runLimitLogLine(500ms), QStringLiteral("[Sync] Firmware tool did not finish within 0.5 seconds; stopped it"));
    EXPECT_EQ(runLimitLogLine(1000ms), QStringLiteral("[Sync] Firmware tool did not finish within 1 second; stopped it"));
    EXPECT_EQ(runLimitLogLine(1500ms), QStringLiteral("[Sync] Firmware tool did not finish within 1.5 seconds; stopped it"));
}

TEST_F(VersionQuery, HungToolIsStoppedAtTheBound)
{
    m_env.set("TALVEX_SIM_MISBEHAVE", "hang");
    const QueryBounds bounds{500ms, 500ms, 1000ms};
    // Stands in for the app's monitoring tick, which must not stall meanwhile.
    int ticks = 0;
    QTimer monitor;
    QObject::connect(&monitor, &QTimer::timeout, [&] { ++ticks; });
    monitor.start(10);
    LogCapture log;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(queryFirmwareVersionSync(toolPath(), bounds), std::nullopt);
    const qint64 elapsed = clock.elapsed();
    EXPECT_GE(ticks, 20);
    const QStringList lines = syncLines(log);

    EXPECT_GE(elapsed, 450);
    EXPECT_LT(elapsed, 2500);
    EXPECT_TRUE(lines.contains(QStringLiteral("[Sync] Firmware tool did not finish within 0.5 seconds; stopped it")))
        << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("[Sync] Tool exited with status: 15")));
    EXPECT_TRUE(lines.contains(QStringLiteral("[Sync] Version not found. Output:")));
}

TEST_F(VersionQuery, ToolIgnoringTerminateIsKilled)
{
    const QString stubborn = m_dir.filePath(QStringLiteral("stubborn/Talvex_Firmware_Update"));
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("stubborn")));
    writeScript(stubborn, "trap '' TERM\necho 'Composite dock image version: 4.4.4'\n"
                          // Gives up by itself, so a query that fails to kill it leaves nothing behind for long.
                          "for i in 1 2 3 4 5 6 7 8 9 10; do sleep 1; done\n");
    const QueryBounds bounds{400ms, 400ms, 1000ms};
    LogCapture log;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(queryFirmwareVersionSync(stubborn, bounds), QStringLiteral("4.4.4"));
    const qint64 elapsed = clock.elapsed();
    const QStringList lines = syncLines(log);

    EXPECT_GE(elapsed, 750);
    EXPECT_LT(elapsed, 2500);
    EXPECT_TRUE(lines.contains(runLimitLogLine(400ms)));
    EXPECT_TRUE(lines.contains(QStringLiteral("[Sync] Tool exited with status: 9")));
}

TEST_F(VersionQuery, ChildHoldingThePipeDoesNotHoldTheQuery)
{
    m_env.set("TALVEX_SIM_MISBEHAVE", "orphan");
    m_env.set("TALVEX_SIM_ORPHAN_SECONDS", "5");
    // No LogCapture here: its saved copy of stderr would be inherited by the
    // lingering child and keep the test runner's pipe open after we are done.
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(queryFirmwareVersionSync(toolPath()), SimulatedVersion);
    EXPECT_LT(clock.elapsed(), 1500);
}

TEST_F(VersionQuery, InvalidUtf8IsSavedAsLatin1Text)
{
    m_env.set("TALVEX_SIM_MISBEHAVE", "garbage");
    const QByteArray direct = runDirectly();
    LogCapture log;
    EXPECT_EQ(queryFirmwareVersionSync(toolPath()), SimulatedVersion);
    const QByteArray saved = readFile(savedPath(syncLines(log)));

    EXPECT_EQ(saved, QString::fromLatin1(direct).toUtf8());
    QStringDecoder strict(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = strict.decode(saved);
    EXPECT_FALSE(strict.hasError());
    EXPECT_TRUE(text.contains(QStringLiteral("Versi\u00f3n del firmware le\u00edda")));
}

TEST_F(VersionQuery, FloodedOutputKeepsVersionAtTheEnd)
{
    m_env.set("TALVEX_SIM_MISBEHAVE", "flood");
    m_env.set("TALVEX_SIM_FLOOD_MB", "8");
    const QByteArray direct = runDirectly();
    ASSERT_GT(direct.size(), 8 * 1024 * 1024);
    LogCapture log;
    EXPECT_EQ(queryFirmwareVersionSync(toolPath()), SimulatedVersion);
    const QStringList lines = syncLines(log);
    EXPECT_TRUE(readFile(savedPath(lines)) == direct);
}

// Quitting the app while the query waits must neither cut the query short
// nor leave it spinning without serving events.
TEST_F(VersionQuery, SurvivesApplicationQuitDuringWait)
{
    const QString slow = m_dir.filePath(QStringLiteral("slow/Talvex_Firmware_Update"));
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("slow")));
    writeScript(slow, "sleep 0.3\necho 'Composite dock image version: 5.0'\n");
    std::optional<QString> version;
    qint64 elapsed = -1;
    LogCapture log;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(50, qApp, &QCoreApplication::quit);
        QElapsedTimer clock;
        clock.start();
        version = queryFirmwareVersionSync(slow, {3000ms, 500ms, 1000ms});
        elapsed = clock.elapsed();
    });
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, qApp, &QCoreApplication::quit);
    watchdog.start(10000);
    QCoreApplication::exec();

    EXPECT_EQ(version, QStringLiteral("5.0"));
    EXPECT_GE(elapsed, 250);
    EXPECT_LT(elapsed, 2500);
}

} // namespace
