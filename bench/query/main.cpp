// Times the version query against running the simulated tool straight through
// QProcess, interleaved so both see the same machine load, and prints the
// medians. The query's own share (event loop, decoding, parsing, saving the
// log file) must stay under OverheadLimitMs.
//
//   bench_version_query [runs]    (default 50)

#include "tool/firmwaretool.h"
#include "tool/versionquery.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <unistd.h>

namespace {

constexpr double OverheadLimitMs = 5.0;
constexpr int WarmUpRuns = 5;

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

double runDirect(const QString &tool)
{
    const Clock::time_point start = Clock::now();
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(tool, versionQueryArguments());
    process.waitForFinished(-1);
    const QByteArray output = process.readAll();
    const double ms = msSince(start);
    if (!output.contains("Composite dock image version:")) {
        std::fprintf(stdout, "error: the simulator printed no version\n");
        std::exit(2);
    }
    return ms;
}

double runQuery(const QString &tool)
{
    const Clock::time_point start = Clock::now();
    const std::optional<QString> version = queryFirmwareVersionSync(tool);
    const double ms = msSince(start);
    if (!version) {
        std::fprintf(stdout, "error: the query found no version\n");
        std::exit(2);
    }
    return ms;
}

// The query logs to stderr; keep that out of the figures and read it back to
// remove the log files it saved.
class QuietLog {
public:
    explicit QuietLog(const QString &path)
        : m_path(path)
    {
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        std::FILE *file = std::fopen(path.toLocal8Bit().constData(), "w");
        ::dup2(::fileno(file), STDERR_FILENO);
        std::fclose(file);
    }
    ~QuietLog()
    {
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        QFile log(m_path);
        if (!log.open(QIODevice::ReadOnly))
            return;
        const QByteArray marker = "[Sync] Output saved to: ";
        for (const QByteArray &line : log.readAll().split('\n')) {
            const qsizetype at = line.indexOf(marker);
            if (at >= 0)
                QFile::remove(QString::fromUtf8(line.mid(at + marker.size())));
        }
    }
    QuietLog(const QuietLog &) = delete;
    QuietLog &operator=(const QuietLog &) = delete;

private:
    QString m_path;
    int m_saved = -1;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;

    QTemporaryDir scratch;
    if (!scratch.isValid())
        return 2;
    qputenv("TALVEX_SIM_STATE", scratch.filePath(QStringLiteral("dock-state")).toLocal8Bit());
    qputenv("TALVEX_SIM_VERSION", "1.0.3");
    qunsetenv("TALVEX_SIM_MISBEHAVE");
    qunsetenv("TALVEX_SIM_ARGS_LOG");

    const QString tool = QStringLiteral(TALVEX_SIMULATOR_PATH);
    std::vector<double> direct;
    std::vector<double> query;
    {
        const QuietLog quiet(scratch.filePath(QStringLiteral("query.log")));
        for (int i = 0; i < WarmUpRuns; ++i) {
            runDirect(tool);
            runQuery(tool);
        }
        for (int i = 0; i < runs; ++i) {
            direct.push_back(runDirect(tool));
            query.push_back(runQuery(tool));
        }
    }

    const double directMedian = median(direct);
    const double queryMedian = median(query);
    const double overhead = queryMedian - directMedian;
    std::printf("cores=%d runs=%d direct_median_ms=%.3f query_median_ms=%.3f overhead_ms=%.3f limit_ms=%.1f %s\n",
                QThread::idealThreadCount(), runs, directMedian, queryMedian, overhead, OverheadLimitMs,
                overhead < OverheadLimitMs ? "ok" : "OVER");
    return overhead < OverheadLimitMs ? 0 : 1;
}
