// An upgrade whose tool prints a flood (200 MB of ASCII lines by default) as
// fast as it can, RUNS times (5 by default). Each run is a fresh process of
// this program, so its peak resident memory is its own; in it, the same tool
// is first read by `cat` through a pipe into a file, then by an upgrade run,
// which saves the output to a file too. Both sides merge the tool's standard
// error into the pipe, and the process's own standard error, where the run
// logs the kept output, goes to /dev/null. Prints each run, then the median
// and min–max of the time ratios, the worst peak memory against the output's
// size and how late a 10 ms timer on the main thread got at worst.
//
//   bench_upgrade_run [megabytes] [runs]

#include "text/upgradetexts.h"
#include "tool/upgraderun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <sys/resource.h>

namespace {

constexpr double TimeRatioLimit = 1.5;
constexpr double MemoryRatioLimit = 3.0;
constexpr qint64 LatenessLimitMs = 50;

QStringList upgradeCommand(const QString &image)
{
    return {QStringLiteral("-vid"), QStringLiteral("21C4"), QStringLiteral("-pid"), QStringLiteral("B070"),
            QStringLiteral("-i"),   image,                   QStringLiteral("-l"),   QStringLiteral("v")};
}

double msSince(const QElapsedTimer &clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}

// One run, in a process of its own: prints "<cat ms> <run ms> <peak kB>
// <timer late ms> <user ms> <system ms> <minor faults> <ok>".
int oneRun(const QString &image)
{
    const QString tool = QStringLiteral(TALVEX_SIMULATOR_PATH);
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return 2;

    QElapsedTimer clock;
    clock.start();
    QProcess shell;
    const QString catOut = scratch.filePath(QStringLiteral("cat.out"));
    QProcessEnvironment shellEnv = QProcessEnvironment::systemEnvironment();
    shellEnv.insert(QStringLiteral("CAT_OUT"), catOut);
    shell.setProcessEnvironment(shellEnv);
    shell.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    shell.setStandardOutputFile(QProcess::nullDevice());
    shell.start(QStringLiteral("sh"),
                QStringList{QStringLiteral("-c"), QStringLiteral("\"$0\" \"$@\" 2>&1 | cat >\"$CAT_OUT\""), tool}
                    + upgradeCommand(image));
    shell.waitForFinished(-1);
    const double catMs = msSince(clock);
    QFile::remove(catOut);

    qint64 latestMs = 0;
    QElapsedTimer sinceTick;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { latestMs = std::max(latestMs, sinceTick.restart() - 10); });
    clock.restart();
    UpgradeRun run(tool, image, std::chrono::seconds(30), upgradeVerdictMessage, scratch.path(), scratch.path());
    QEventLoop loop;
    QObject::connect(&run, &UpgradeRun::imageReady, &run, [&run] { run.launchTool(); });
    QObject::connect(&run, &UpgradeRun::finished, &loop, &QEventLoop::quit);
    run.start();
    sinceTick.start();
    tick.start(10);
    loop.exec();
    const double runMs = msSince(clock);
    tick.stop();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%.1f %.1f %ld %lld %.0f %.0f %ld %d\n", catMs, runMs, usage.ru_maxrss, static_cast<long long>(latestMs),
                usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3,
                usage.ru_stime.tv_sec * 1e3 + usage.ru_stime.tv_usec / 1e3, usage.ru_minflt,
                run.report().verdict == UpgradeVerdict::Success ? 1 : 0);
    return 0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--one") == 0)
        return oneRun(QString::fromLocal8Bit(argv[2]));

    const int megabytes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    QTemporaryDir scratch;
    const QString image = scratch.filePath(QStringLiteral("dock.bin"));
    QProcess maker;
    maker.start(QStringLiteral(MAKE_FIRMWARE_IMAGE_PATH),
                {QStringLiteral("--version"), QStringLiteral("2.1.0"), QStringLiteral("--out"), image});
    if (!scratch.isValid() || !maker.waitForFinished(-1) || maker.exitCode() != 0)
        return 2;

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TALVEX_SIM_STATE"), scratch.filePath(QStringLiteral("state")));
    env.insert(QStringLiteral("TALVEX_SIM_PACE_MS"), QStringLiteral("0"));
    env.insert(QStringLiteral("TALVEX_SIM_MISBEHAVE"), QStringLiteral("flood"));
    env.insert(QStringLiteral("TALVEX_SIM_FLOOD_MB"), QString::number(megabytes));

    std::vector<double> cats, ratios;
    double worstPeakMb = 0;
    qint64 worstLateMs = 0;
    bool allSucceeded = true;
    for (int i = 0; i < runs; ++i) {
        QProcess child;
        child.setProcessEnvironment(env);
        child.setStandardErrorFile(QProcess::nullDevice());
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--one"), image});
        child.waitForFinished(-1);
        double catMs = 0, runMs = 0, userMs = 0, systemMs = 0;
        long peakKb = 0, faults = 0;
        long long lateMs = 0;
        int success = 0;
        if (std::sscanf(child.readAllStandardOutput().constData(), "%lf %lf %ld %lld %lf %lf %ld %d", &catMs, &runMs,
                        &peakKb, &lateMs, &userMs, &systemMs, &faults, &success)
            != 8)
            return 2;
        std::printf("run %d: cat_to_file_ms=%.0f run_ms=%.0f ratio=%.2f peak_rss_mb=%.0f timer_late_max_ms=%lld "
                    "cpu_user_ms=%.0f cpu_system_ms=%.0f minor_faults=%ld %s\n",
                    i + 1, catMs, runMs, runMs / catMs, peakKb / 1024.0, lateMs, userMs, systemMs, faults,
                    success ? "success" : "FAILED");
        std::fflush(stdout);
        cats.push_back(catMs);
        ratios.push_back(runMs / catMs);
        worstPeakMb = std::max(worstPeakMb, peakKb / 1024.0);
        worstLateMs = std::max<qint64>(worstLateMs, lateMs);
        allSucceeded = allSucceeded && success;
    }
    const double medianRatio = median(ratios);
    const bool ok = allSucceeded && medianRatio <= TimeRatioLimit && worstPeakMb / megabytes < MemoryRatioLimit
        && worstLateMs <= LatenessLimitMs;
    std::printf("output_mb=%d runs=%d cores=%d: run against `tool | cat > file`: median %.2fx, min-max %.2f-%.2fx "
                "(limit %.1fx median; cat %.0f-%.0f ms); worst peak_rss_mb=%.0f (%.2fx output, limit %.1fx); worst "
                "timer_late_ms=%lld (limit %lld) verdict=%s\n",
                megabytes, runs, QThread::idealThreadCount(), medianRatio, *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()), TimeRatioLimit,
                *std::min_element(cats.begin(), cats.end()), *std::max_element(cats.begin(), cats.end()), worstPeakMb,
                worstPeakMb / megabytes, MemoryRatioLimit, static_cast<long long>(worstLateMs),
                static_cast<long long>(LatenessLimitMs), ok ? "ok" : "OVER");
    return ok ? 0 : 1;
}
