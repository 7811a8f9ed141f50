// An upgrade whose tool prints a flood (200 MB by default) as fast as it can:
// the run's collection time against `cat` reading the same tool through a
// pipe into a file (the run saves the output too; into /dev/null is printed
// as well), the process's peak resident memory against the output's size, and
// how late a 10 ms timer on the main thread gets while the run goes on.
//
//   bench_upgrade_run [megabytes]

#include "text/upgradetexts.h"
#include "tool/upgraderun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr double TimeRatioLimit = 1.5;
constexpr double MemoryRatioLimit = 3.0;
constexpr qint64 LatenessLimitMs = 50;

QStringList upgradeCommand(const QString &image)
{
    return {QStringLiteral("-vid"), QStringLiteral("21C4"), QStringLiteral("-pid"), QStringLiteral("B070"),
            QStringLiteral("-i"),   image,                   QStringLiteral("-l"),   QStringLiteral("v")};
}

// `cat` reading the tool through a pipe, into /dev/null or, like the run's
// log, into a file.
double catMs(const QString &tool, const QString &image, const QString &into)
{
    QElapsedTimer clock;
    clock.start();
    QProcess shell;
    const QStringList script{QStringLiteral("-c"), QStringLiteral("\"$0\" \"$@\" 2>&1 | cat >") + into, tool};
    shell.start(QStringLiteral("sh"), script + upgradeCommand(image));
    shell.waitForFinished(-1);
    return double(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int megabytes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    QTemporaryDir scratch;
    const QString tool = QStringLiteral(TALVEX_SIMULATOR_PATH);
    const QString image = scratch.filePath(QStringLiteral("dock.bin"));
    if (!scratch.isValid()
        || QProcess::execute(QStringLiteral(MAKE_FIRMWARE_IMAGE_PATH),
                             {QStringLiteral("--version"), QStringLiteral("2.1.0"), QStringLiteral("--out"), image})
            != 0)
        return 2;
    qputenv("TALVEX_SIM_STATE", scratch.filePath(QStringLiteral("state")).toLocal8Bit());
    qputenv("TALVEX_SIM_PACE_MS", "0");
    qputenv("TALVEX_SIM_MISBEHAVE", "flood");
    qputenv("TALVEX_SIM_FLOOD_MB", QByteArray::number(megabytes));

    const double nullMs = catMs(tool, image, QStringLiteral("/dev/null"));
    const double pipeMs = catMs(tool, image, scratch.filePath(QStringLiteral("cat.out")));
    QFile::remove(scratch.filePath(QStringLiteral("cat.out")));

    // The run's own log lines, the whole output among them, go nowhere.
    const int savedStderr = ::dup(STDERR_FILENO);
    const int devNull = ::open("/dev/null", O_WRONLY);
    ::dup2(devNull, STDERR_FILENO);

    qint64 latestMs = 0;
    QElapsedTimer sinceTick;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        latestMs = std::max(latestMs, sinceTick.restart() - 10);
    });
    QElapsedTimer clock;
    clock.start();
    UpgradeRun run(tool, image, std::chrono::seconds(30), upgradeVerdictMessage, scratch.path());
    QEventLoop loop;
    QObject::connect(&run, &UpgradeRun::finished, &loop, &QEventLoop::quit);
    run.start();
    sinceTick.start();
    tick.start(10);
    loop.exec();
    const double runMs = double(clock.nsecsElapsed()) / 1e6;
    tick.stop();

    ::dup2(savedStderr, STDERR_FILENO);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double peakMb = double(usage.ru_maxrss) / 1024.0; // kilobytes
    const double userMs = usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3;
    const double systemMs = usage.ru_stime.tv_sec * 1e3 + usage.ru_stime.tv_usec / 1e3;
    const double timeRatio = runMs / pipeMs;
    const double memoryRatio = peakMb / megabytes;
    const bool success = run.report().verdict == UpgradeVerdict::Success;
    const bool ok = success && timeRatio <= TimeRatioLimit && memoryRatio < MemoryRatioLimit
        && latestMs <= LatenessLimitMs;
    std::printf("output_mb=%d cat_to_null_ms=%.0f cat_to_file_ms=%.0f run_ms=%.0f ratio=%.2f (limit %.1f) peak_rss_mb=%.0f (%.2fx output, limit "
                "%.1fx) cpu_user_ms=%.0f cpu_system_ms=%.0f timer_late_max_ms=%lld (limit %lld) verdict=%s %s\n",
                megabytes, nullMs, pipeMs, runMs, timeRatio, TimeRatioLimit, peakMb, memoryRatio, MemoryRatioLimit, userMs, systemMs,
                static_cast<long long>(latestMs), static_cast<long long>(LatenessLimitMs),
                success ? "success" : "FAILED", ok ? "ok" : "OVER");
    return ok ? 0 : 1;
}
