#include "tool/upgraderun.h"

#include "../common/logcapture.h"
#include "qtprint.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

const QString Simulator = QStringLiteral(TALVEX_SIMULATOR_PATH);

enum class Verdict { Success, Failed, Abnormal, NotLaunched };

struct RunSeen {
    UpgradeReport report;
    QStringList lines; // the [Upgrade] log lines, each whole
    QString savedPath;
    QByteArray saved;
    qint64 elapsedMs = 0;

    std::string dump() const { return lines.join(QStringLiteral("\n--\n")).toStdString(); }
};

// Runs one upgrade to its end, as the program does, and reads back what it
// logged and saved.
RunSeen upgrade(const QString &tool, const QString &image, double timeout, const QString &logDir)
{
    RunSeen r;
    LogCapture log;
    QElapsedTimer clock;
    clock.start();
    UpgradeRun run(tool, image, timeout, logDir);
    QEventLoop loop;
    QObject::connect(&run, &UpgradeRun::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    run.start();
    loop.exec();
    r.elapsedMs = clock.elapsed();
    EXPECT_TRUE(run.isFinished());
    r.report = run.report();
    // Log lines start with a date; the output logged whole spans several lines.
    const QStringList texts = log.texts();
    for (const QString &text : texts) {
        if (text.startsWith(QLatin1String("[Upgrade] ")))
            r.lines << text;
        else if (!r.lines.isEmpty() && r.lines.last().startsWith(QLatin1String("[Upgrade] Output:")))
            r.lines.last() += QLatin1Char('\n') + text;
    }
    const QStringList files = QDir(logDir).entryList({QStringLiteral("*.log")}, QDir::Files);
    if (files.size() == 1) {
        r.savedPath = logDir + QLatin1Char('/') + files.first();
        QFile file(r.savedPath);
        if (file.open(QIODevice::ReadOnly))
            r.saved = file.readAll();
    }
    return r;
}

class UpgradeRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        for (const char *name : {"TALVEX_SIM_MISBEHAVE", "TALVEX_SIM_ARGS_LOG", "TALVEX_SIM_ORPHAN_SECONDS"})
            qunsetenv(name);
        qputenv("TALVEX_SIM_PACE_MS", "1");
        qputenv("TALVEX_SIM_STATE", path("dock-state").toLocal8Bit());
        makeImage("good.bin", {});
        makeImage("bad.bin", {QStringLiteral("--corrupt")});
    }
    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }
    void makeImage(const char *name, QStringList extra)
    {
        extra << QStringLiteral("--version") << QStringLiteral("2.1.0") << QStringLiteral("--out") << path(name);
        ASSERT_EQ(QProcess::execute(QStringLiteral(MAKE_FIRMWARE_IMAGE_PATH), extra), 0);
    }
    // A shell script standing in for the tool.
    QString script(const char *name, const QByteArray &body)
    {
        QFile file(path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\n" + body) > 0
                    && file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        return file.fileName();
    }
    QString logDir()
    {
        const QString dir = m_dir.filePath(QStringLiteral("logs%1").arg(++m_runs));
        QDir().mkpath(dir);
        return dir;
    }

    QTemporaryDir m_dir;
    int m_runs = 0;
};

TEST_F(UpgradeRunTest, LogsSavesAndJudgesEachEnding)
{
    struct Case {
        const char *name;
        QString tool;
        const char *misbehave;
        const char *image;
        double timeout;
        Verdict verdict;
        QString status;  // the status line's number
        QString extra;   // a line that must be logged besides the usual ones
    };
    const Case cases[] = {
        {"success", Simulator, "", "good.bin", 30, Verdict::Success, "0", {}},
        {"corrupt image", Simulator, "", "bad.bin", 30, Verdict::Abnormal, "1", {}},
        {"status 1 with a success phrase", script("exit1.sh", "echo 'Firmware update completed'\nexit 1\n"), "",
         "good.bin", 30, Verdict::Abnormal, "1", {}},
        {"failure and success phrases", Simulator, "fail-phrase-with-success", "good.bin", 30, Verdict::Failed, "0", {}},
        {"killed", Simulator, "sigkill", "good.bin", 30, Verdict::Abnormal, "9", {}},
        {"not UTF-8", Simulator, "garbage", "good.bin", 30, Verdict::Success, "0", {}},
        {"phrase split across writes",
         script("split.sh", "printf 'Firmware upd'\nsleep 0.3\nprintf 'ate completed\\n'\n"), "", "good.bin", 30,
         Verdict::Success, "0", {}},
        {"silent tool stopped", script("silent.sh", "exec sleep 30\n"), "", "good.bin", 1, Verdict::Abnormal, "15",
         QStringLiteral("[Upgrade] No output from firmware tool for 1 seconds; stopping it")},
        {"talkative tool outlives the timeout",
         script("talk.sh", "for i in 1 2 3 4; do echo \"block $i\"; sleep 0.4; done\necho 'Firmware update successful'\n"),
         "", "good.bin", 1, Verdict::Success, "0", {}},
        {"child holds the pipe", Simulator, "orphan", "good.bin", 30, Verdict::Success, "0", {}},
        {"no tool", m_dir.filePath(QStringLiteral("nowhere/Talvex_Firmware_Update")), "", "good.bin", 30,
         Verdict::NotLaunched, {}, {}},
    };
    qputenv("TALVEX_SIM_ORPHAN_SECONDS", "5");
    const QString success = QStringLiteral("Firmware upgrade successful!");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        *c.misbehave ? qputenv("TALVEX_SIM_MISBEHAVE", c.misbehave) : qunsetenv("TALVEX_SIM_MISBEHAVE");
        const QString dir = logDir();
        const RunSeen r = upgrade(c.tool, path(c.image), c.timeout, dir);
        EXPECT_LT(r.elapsedMs, 4000);
        ASSERT_GE(r.lines.size(), 2) << r.dump();
        EXPECT_EQ(r.lines[0], QStringLiteral("[Upgrade] Launching firmware tool at: ") + c.tool);
        EXPECT_EQ(r.report.launched, c.verdict != Verdict::NotLaunched);
        if (c.verdict == Verdict::NotLaunched) {
            EXPECT_EQ(r.lines.size(), 2) << r.dump();
            EXPECT_TRUE(r.lines[1].startsWith(QLatin1String("[Upgrade] Failed to launch: ")));
            EXPECT_FALSE(r.report.launchError.isEmpty());
            EXPECT_TRUE(QDir(dir).isEmpty()); // no log file
            continue;
        }
        QStringList lines = r.lines;
        if (!c.extra.isEmpty()) {
            EXPECT_EQ(lines.takeAt(1), c.extra) << r.dump();
        }
        ASSERT_EQ(lines.size(), 6) << r.dump();
        EXPECT_EQ(lines[1], QStringLiteral("[Upgrade] Output saved to: ") + r.savedPath);
        EXPECT_EQ(lines[2], QStringLiteral("[Upgrade] Tool exited with status: ") + c.status);
        // The tool prints ASCII, or Latin-1 when it misbehaves: one byte a character.
        EXPECT_EQ(lines[3], QStringLiteral("[Upgrade] Total output size: %1 bytes").arg(QString::fromUtf8(r.saved).size()));
        // The file and the log hold the same whole output, as UTF-8.
        EXPECT_EQ(lines[4], QStringLiteral("[Upgrade] Output:\n") + QString::fromUtf8(r.saved));
        const QString message = c.verdict == Verdict::Success ? success
                                : c.verdict == Verdict::Failed ? QStringLiteral("Firmware upgrade failed!")
                                                               : QStringLiteral("Upgrade tool exited abnormally!");
        EXPECT_EQ(lines[5], QStringLiteral("[Upgrade] Success: %1, Message: %2")
                                .arg(c.verdict == Verdict::Success ? "YES" : "NO", message));
        EXPECT_EQ(r.report.outcome.success, c.verdict == Verdict::Success);
    }
    EXPECT_EQ(QFile(path("dock-state")).exists(), true); // the simulated dock took the good image
}

} // namespace
