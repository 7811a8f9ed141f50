#include "tool/upgraderun.h"

#include "../common/logcapture.h"
#include "tooltest.h"
#include "core/printable.h"
#include "text/upgradetexts.h"
#include "tool/tooloutput.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct RunSeen {
    UpgradeReport report;
    QStringList lines; // the [Upgrade] log lines, each whole
    QByteArray logged; // all of standard error
    qint64 elapsedMs = 0;
};

// Runs one upgrade to its end, as the program does, the image's copy and
// the log in logDir; `onImageReady` runs before the tool is launched.
RunSeen upgrade(const FirmwareTool &tool, const QString &image, std::chrono::seconds timeout, const QString &logDir,
                const std::function<void(UpgradeRun &)> &onImageReady = {})
{
    RunSeen r;
    LogCapture log;
    QElapsedTimer clock;
    clock.start();
    UpgradeRun run(tool, image, timeout, upgradeVerdictMessage, logDir, logDir);
    QEventLoop loop;
    QObject::connect(&run, &UpgradeRun::imageReady, &run, [&] {
        if (onImageReady)
            onImageReady(run);
        else
            run.launchTool();
    });
    QObject::connect(&run, &UpgradeRun::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    // Ctrl+C in the terminal, then the terminal closed, in the middle of the run.
    QTimer::singleShot(100, [] { ::kill(0, SIGINT), ::kill(0, SIGHUP); });
    run.start();
    loop.exec();
    r.elapsedMs = clock.elapsed();
    EXPECT_TRUE(run.isFinished());
    r.report = run.report();
    r.logged = log.bytes();
    // Log lines start with a date; the output logged whole spans several lines.
    for (const QString &text : log.texts()) {
        if (text.startsWith(QLatin1String("[Upgrade] ")))
            r.lines << text;
        else if (!r.lines.isEmpty() && r.lines.last().startsWith(QLatin1String("[Upgrade] Output:")))
            r.lines.last() += QLatin1Char('\n') + text;
    }
    return r;
}

// The signals every run sends reach this process's group alone, and are
// caught here: an ignored signal would stay ignored in the tool.
void catchTerminalSignals()
{
    ::setpgid(0, 0);
    struct sigaction caught = {};
    caught.sa_handler = [](int) {};
    ::sigaction(SIGINT, &caught, nullptr);
    ::sigaction(SIGHUP, &caught, nullptr);
}

TEST(UpgradeRun, LogsSavesAndJudgesEachEnding)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto path = [&](const char *name) { return dir.filePath(QLatin1String(name)); };
    const auto script = [&](const char *name, const QByteArray &body) { return writeScript(path(name), body); };
    catchTerminalSignals();
    qunsetenv("TALVEX_SIM_ARGS_LOG");
    qputenv("TALVEX_SIM_PACE_MS", "20");
    qputenv("TALVEX_SIM_ORPHAN_SECONDS", "5");
    qputenv("TALVEX_SIM_STATE", path("dock-state").toLocal8Bit());
    const QString makeImage = QStringLiteral(MAKE_FIRMWARE_IMAGE_PATH);
    ASSERT_EQ(QProcess::execute(makeImage, {"--version", "2.1.0", "--out", path("good.bin")}), 0);
    ASSERT_EQ(QProcess::execute(makeImage, {"--version", "2.1.0", "--corrupt", "--out", path("bad.bin")}), 0);

    const QString sim = QStringLiteral(TALVEX_SIMULATOR_PATH), ok = QStringLiteral("Firmware upgrade successful!"),
                  failed = QStringLiteral("Firmware upgrade failed!"),
                  abnormal = QStringLiteral("Upgrade tool exited abnormally!");
    // verdict: the result message, none if the tool cannot be launched; status: the
    // status line's number; extra: a line that must be logged besides the usual ones.
    const struct { const char *name; FirmwareTool tool; const char *misbehave, *image; int timeout;
                   QString verdict, status, extra; } cases[] = {
        {"success", sim, "", "good.bin", 30, ok, "0", {}},
        {"corrupt image", sim, "", "bad.bin", 30, abnormal, "1", {}},
        {"failure and success phrases", sim, "fail-phrase-with-success", "good.bin", 30, failed, "0", {}},
        {"killed", sim, "sigkill", "good.bin", 30, abnormal, "9", {}},
        {"not UTF-8", sim, "garbage", "good.bin", 30, ok, "0", {}},
        {"control characters", sim, "controls", "good.bin", 30, failed, "0", {}},
        {"silent tool stopped", script("silent.sh", "exec sleep 30\n"), "", "good.bin", 1, abnormal, "15",
         QStringLiteral("[Upgrade] No output from firmware tool for 1 seconds; stopping it")},
        {"stopped tool claims success", sim, "term-success", "good.bin", 1, abnormal, "0",
         QStringLiteral("[Upgrade] No output from firmware tool for 1 seconds; stopping it")},
        {"talkative tool outlives the timeout",
         script("talk.sh", "for i in 1 2 3 4; do echo \"block $i\"; sleep 0.4; done\necho 'Firmware update successful'\n"),
         "", "good.bin", 1, ok, "0", {}},
        {"no limit", script("quiet.sh", "sleep 2\necho 'Firmware update completed'\n"), "", "good.bin", 0, ok, "0", {}},
        {"child holds the pipe", sim, "orphan", "good.bin", 30, ok, "0", {}},
        {"no tool", findFirmwareTool({path("nowhere"), {}}), "", "good.bin", 30, {}, {}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        qputenv("TALVEX_SIM_MISBEHAVE", c.misbehave);
        const QString logDir = dir.filePath(QLatin1String(c.name));
        ASSERT_TRUE(QDir().mkpath(logDir));
        // The tool run by hand, stopped where the run stops it, to compare the saved output with.
        QFile::remove(path("dock-state")); // each run starts from the same dock
        QProcess direct;
        direct.setProcessChannelMode(QProcess::MergedChannels);
        direct.start(c.tool.path, upgradeArguments(path(c.image)));
        if (!direct.waitForFinished(c.extra.isEmpty() ? 30000 : c.timeout * 1000))
            direct.terminate(), direct.waitForFinished();
        QByteArray printed = direct.readAll();
        QFile::remove(path("dock-state")); // each run starts from the same dock
        RunSeen r = upgrade(c.tool, path(c.image), std::chrono::seconds(c.timeout), logDir);
        const QStringList files = QDir(logDir).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
        const std::string dump = r.lines.join(QStringLiteral("\n--\n")).toStdString();
        EXPECT_LT(r.elapsedMs, 4000);
        ASSERT_GE(r.lines.size(), 2) << dump;
        // The tool is given a copy of the image, gone once the run is over.
        const QString copy = r.lines.takeFirst().section(QStringLiteral("image: "), 1);
        EXPECT_TRUE(copy.startsWith(logDir + QStringLiteral("/quorvale-image-")) && copy.endsWith(QLatin1String(c.image)))
            << copy.toStdString();
        EXPECT_FALSE(QFileInfo::exists(QFileInfo(copy).path()));
        printed.replace(path(c.image).toUtf8(), copy.toUtf8());
        EXPECT_EQ(r.report.launched, !c.verdict.isEmpty());
        if (c.verdict.isEmpty()) { // no launch line for a tool that is not there
            EXPECT_EQ(r.lines.size(), 1) << dump;
            EXPECT_EQ(r.lines[0], "[Upgrade] Failed to launch: Talvex_Firmware_Update not found in " + path("nowhere"));
            EXPECT_EQ(r.report.launchError, r.lines[0].section(QStringLiteral("launch: "), 1));
            EXPECT_TRUE(files.isEmpty()); // no log file
            continue;
        }
        EXPECT_EQ(r.lines[0], QStringLiteral("[Upgrade] Launching firmware tool at: ") + c.tool.path);
        QStringList lines = r.lines;
        if (!c.extra.isEmpty()) {
            EXPECT_EQ(lines.takeAt(1), c.extra) << dump;
        }
        ASSERT_EQ(lines.size(), 6) << dump;
        ASSERT_EQ(files.size(), 1);
        const QString savedPath = logDir + QLatin1Char('/') + files[0];
        EXPECT_EQ(readFile(savedPath), printed); // byte for byte
        struct stat saved;
        EXPECT_TRUE(::stat(QFile::encodeName(savedPath).constData(), &saved) == 0 && (saved.st_mode & 07777) == 0600);
        EXPECT_EQ(lines[1], QStringLiteral("[Upgrade] Output saved to: ") + savedPath);
        EXPECT_EQ(lines[2], QStringLiteral("[Upgrade] Tool exited with status: ") + c.status);
        EXPECT_EQ(lines[3], QStringLiteral("[Upgrade] Total output size: %1 bytes").arg(printed.size()));
        // The log shows the output as text, without what would steer a terminal.
        EXPECT_EQ(lines[4], "[Upgrade] Output:\n" + withoutControlCharacters(decodeToolOutput(printed), u"\n\t"));
        for (const char control : {'\x1b', '\x07', '\0'})
            EXPECT_FALSE(r.logged.contains(control)) << int(control);
        EXPECT_EQ(lines[5],
                  QStringLiteral("[Upgrade] Success: %1, Message: %2").arg(c.verdict == ok ? "YES" : "NO", c.verdict));
        EXPECT_EQ(r.report.verdict == UpgradeVerdict::Success, c.verdict == ok);
    }
}

// The tool flashes a private copy, so a pulled stick or a file rewritten
// mid-flash changes nothing; what cannot be copied never reaches the tool.
TEST(UpgradeRun, FlashesAPrivateCopyOfTheImage)
{
    catchTerminalSignals();
    QTemporaryDir dir;
    const auto path = [&](const char *name) { return dir.filePath(QLatin1String(name)); };
    qunsetenv("TALVEX_SIM_MISBEHAVE");
    qputenv("TALVEX_SIM_PACE_MS", "1");
    qputenv("TALVEX_SIM_STATE", path("dock-state").toLocal8Bit());
    qputenv("TALVEX_SIM_ARGS_LOG", path("args").toLocal8Bit());
    ASSERT_EQ(QProcess::execute(QStringLiteral(MAKE_FIRMWARE_IMAGE_PATH), {"--version", "2.1.0", "--out", path("stick.bin")}), 0);
    const QString sim = QStringLiteral(TALVEX_SIMULATOR_PATH);
    mode_t copyMode = 0;
    const RunSeen pulled = upgrade(sim, path("stick.bin"), std::chrono::seconds(30), dir.path(), [&](UpgradeRun &run) {
        struct stat st;
        const QString copy = QDir(dir.path()).entryList({QStringLiteral("quorvale-image-*")}).value(0);
        copyMode = ::stat(QFile::encodeName(dir.filePath(copy)).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
        QFile::remove(path("stick.bin"));
        run.launchTool();
    });
    EXPECT_EQ(pulled.report.verdict, UpgradeVerdict::Success);
    EXPECT_EQ(readFile(path("dock-state")), "2.1.0\n");
    EXPECT_EQ(copyMode, 0700u);
    EXPECT_TRUE(readFile(path("args")).contains("/quorvale-image-"));
    EXPECT_TRUE(QDir(dir.path()).entryList({QStringLiteral("quorvale-image-*")}).isEmpty());

    ASSERT_EQ(::mkfifo(QFile::encodeName(path("fifo.bin")).constData(), 0600), 0);
    QFile(path("empty.bin")).open(QIODevice::WriteOnly);
    QFile::link(QStringLiteral("/dev/zero"), path("zero.bin"));
    ASSERT_EQ(QProcess::execute(QStringLiteral(MAKE_FIRMWARE_IMAGE_PATH), {"--version", "2.1.0", "--out", path("ok.bin")}), 0);
    const struct {
        const char *image, *copyDir;
        ImageProblem problem;
        QString logged;
    } refused[] = {
        {"none.bin", "", ImageProblem::Missing, QStringLiteral("does not exist")},
        {"fifo.bin", "", ImageProblem::NotAFile, QStringLiteral("is not a regular file")},
        {"zero.bin", "", ImageProblem::NotAFile, QStringLiteral("is not a regular file")},
        {"empty.bin", "", ImageProblem::Empty, QStringLiteral("is empty")},
        {"ok.bin", "/none", ImageProblem::CopyFailed, QStringLiteral("could not be copied: No such file or directory")},
    };
    for (const auto &c : refused) {
        SCOPED_TRACE(c.image);
        QFile::remove(path("args"));
        UpgradeRun run(sim, path(c.image), std::chrono::seconds(30), upgradeVerdictMessage, dir.path(),
                       dir.path() + QLatin1String(c.copyDir));
        LogCapture log;
        QEventLoop loop;
        bool ready = false;
        QObject::connect(&run, &UpgradeRun::imageReady, [&] { ready = true; });
        QObject::connect(&run, &UpgradeRun::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        run.start();
        loop.exec();
        ASSERT_TRUE(run.isFinished());
        EXPECT_FALSE(ready);
        EXPECT_EQ(run.report().image.problem, c.problem);
        EXPECT_FALSE(run.report().launched);
        EXPECT_EQ(log.texts(), QStringList{"[Upgrade] The image " + path(c.image) + ' ' + c.logged});
        EXPECT_FALSE(QFileInfo::exists(path("args"))); // the tool never ran
    }
}

// A flash must outlive the program: the tool keeps the descriptors it is
// handed (and no others), and writes on without SIGPIPE once nobody reads.
TEST(UpgradeRun, ToolKeepsItsLocksAndOutlivesItsReader)
{
    catchTerminalSignals();
    QTemporaryDir dir;
    const auto path = [&](const char *name) { return dir.filePath(QLatin1String(name)); };
    QFile image(path("image.bin"));
    ASSERT_TRUE(image.open(QIODevice::WriteOnly) && image.write("image") == 5);
    image.close();
    const int handed = ::open("/dev/null", O_RDONLY | O_CLOEXEC), kept = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const QString tool = writeScript(
        path("tool.sh"), QStringLiteral("grep SigIgn /proc/self/status\n"
                                        "for fd in %1 %2; do [ -e /proc/$$/fd/$fd ] && echo \"open $fd\" || echo \"closed $fd\"; done\n"
                                        "echo 'Firmware update completed'\n").arg(handed).arg(kept).toUtf8());
    const RunSeen r = upgrade(tool, path("image.bin"), std::chrono::seconds(30), dir.path(),
                              [&](UpgradeRun &run) { run.launchTool({handed}); });
    ::close(handed);
    ::close(kept);
    const QString output = r.lines.filter(QStringLiteral("[Upgrade] Output:")).value(0);
    EXPECT_TRUE(output.contains(QStringLiteral("open %1\n").arg(handed))) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("closed %1\n").arg(kept))) << output.toStdString();
    bool ok = false;
    const qulonglong ignored = output.section(QStringLiteral("SigIgn:"), 1).section(QLatin1Char('\n'), 0, 0).trimmed().toULongLong(&ok, 16);
    EXPECT_TRUE(ok && (ignored & (1ull << (SIGPIPE - 1)))) << output.toStdString();
}

// The silence limit stops the tool's whole process group: a helper it
// started in the background goes with it.
TEST(UpgradeRun, SilenceLimitStopsWhatTheToolStarted)
{
    catchTerminalSignals();
    QTemporaryDir dir;
    const auto path = [&](const char *name) { return dir.filePath(QLatin1String(name)); };
    QFile image(path("image.bin"));
    ASSERT_TRUE(image.open(QIODevice::WriteOnly) && image.write("image") == 5);
    image.close();
    const QString tool = writeScript(path("tool.sh"), "sleep 30 &\necho $! >\"$(dirname \"$0\")/child\"\nwait\n");
    const RunSeen r = upgrade(tool, path("image.bin"), std::chrono::seconds(1), dir.path());
    EXPECT_EQ(r.report.verdict, UpgradeVerdict::AbnormalEnd);
    const pid_t child = readFile(path("child")).trimmed().toInt();
    ASSERT_GT(child, 0);
    // Gone, or dead and waiting to be reaped by whoever adopted it.
    const auto dead = [&] {
        const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(child));
        return stat == "<unreadable>" || stat.mid(stat.lastIndexOf(')') + 2, 1) == "Z";
    };
    bool gone = false;
    for (int i = 0; i < 100 && !gone; ++i) {
        QThread::msleep(20);
        gone = dead();
    }
    EXPECT_TRUE(gone) << "pid " << child;
    if (!gone)
        ::kill(child, SIGKILL);
}
// A copy that does not fit ends the run with the system's reason, before the tool.
TEST(UpgradeRunFullDisk, CopyThatDoesNotFitNeverReachesTheTool)
{
    const QString full = qEnvironmentVariable("QUORVALE_FULL_DIR");
    if (full.isEmpty())
        GTEST_SKIP() << "needs a small file system of its own";
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("dock.bin"));
    ASSERT_EQ(QProcess::execute(QStringLiteral(MAKE_FIRMWARE_IMAGE_PATH), {"--version", "2.1.0", "--out", image}), 0);
    qputenv("TALVEX_SIM_ARGS_LOG", dir.filePath(QStringLiteral("args")).toLocal8Bit());
    UpgradeRun run(QStringLiteral(TALVEX_SIMULATOR_PATH), image, std::chrono::seconds(30), upgradeVerdictMessage,
                   dir.path(), full);
    QEventLoop loop;
    QObject::connect(&run, &UpgradeRun::imageReady, &run, [&run] { run.launchTool(); });
    QObject::connect(&run, &UpgradeRun::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    run.start();
    loop.exec();
    ASSERT_TRUE(run.isFinished());
    EXPECT_EQ(run.report().image.problem, ImageProblem::CopyFailed);
    EXPECT_EQ(run.report().image.reason, QStringLiteral("No space left on device"));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("args"))));
    EXPECT_TRUE(QDir(full).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)); // nothing left behind
}
} // namespace
