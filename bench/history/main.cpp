// The history store's costs on the main thread: writing the "running" row
// before the tool starts (begin(), committed and synced), recording the end
// with a full output tail, opening a file of ROWS upgrades (the damage check
// reads all of it), and the History window's query over those rows to its
// first rows fetched (a QSqlQueryModel fetches 256 at a time), as well as
// recent() and running(). Each figure is the median of its runs, with the
// slowest. The file lives in FOLDER (default: the temporary folder), whose
// file system is printed: on tmpfs a sync costs nothing.
//
//   bench_history [folder] [rows] [tail_kib]    (defaults: $TMPDIR, 10000, 64)

#include "history/historystore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <sys/vfs.h>

namespace {

constexpr double BeginLimitMs = 5.0;
constexpr double WindowLimitMs = 100.0;
constexpr int WriteRuns = 200;
constexpr int ReadRuns = 20;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

struct Figure {
    double median;
    double max;
};

template <typename F>
Figure measure(int runs, F &&step)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        step(i);
        ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    return {median(ms), *std::max_element(ms.begin(), ms.end())};
}

FlashRecord startOf(int n)
{
    FlashRecord r;
    r.started = QDateTime::currentDateTimeUtc().addSecs(n);
    r.manufacturer = QStringLiteral("Talvex");
    r.product = QStringLiteral("TD-70 USB-C Dock");
    r.serial = QStringLiteral("TVX%1").arg(n % 7, 8, 10, QLatin1Char('0'));
    r.syspath = QStringLiteral("/sys/devices/pci0000:00/0000:00:14.0/usb3/3-1");
    r.versionBefore = QStringLiteral("1.0.%1").arg(n % 10);
    r.imagePath = QStringLiteral("/home/user/Downloads/dock-2.1.%1.bin").arg(n % 10);
    r.imageSize = 4 << 20;
    r.imageSha256 = QStringLiteral("9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");
    r.silenceLimitSeconds = 600;
    r.logPath = QStringLiteral("/tmp/talvex_upgrade_%1.log").arg(n);
    return r;
}

QByteArray outputOf(qsizetype bytes)
{
    QByteArray output;
    for (int line = 0; output.size() < bytes; ++line)
        output += "[verbose] writing block " + QByteArray::number(line) + " of the composite image ... ok\n";
    return output.right(bytes);
}

// Many rows fast: one transaction beside the store, as years of upgrades would leave them.
void fill(const QString &path, int rows, const QByteArray &output)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery query(db);
        query.exec(QStringLiteral("BEGIN"));
        query.prepare(QStringLiteral("INSERT INTO flashes (started, ended, manufacturer, product, serial, syspath, "
                                     "version_before, version_after, image_path, image_size, image_sha256, "
                                     "silence_limit_seconds, result, message, log_path, output_tail) "
                                     "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        const QDateTime first = QDateTime::currentDateTimeUtc().addDays(-3650);
        for (int n = 0; n < rows; ++n) {
            const FlashRecord r = startOf(n);
            const QDateTime started = first.addSecs(n * 3600);
            for (const QVariant &value : {QVariant(started.toString(Qt::ISODateWithMs)),
                     QVariant(started.addSecs(90).toString(Qt::ISODateWithMs)), QVariant(r.manufacturer),
                     QVariant(r.product), QVariant(r.serial), QVariant(r.syspath), QVariant(r.versionBefore),
                     QVariant(QStringLiteral("2.1.0")), QVariant(r.imagePath), QVariant(r.imageSize),
                     QVariant(r.imageSha256), QVariant(r.silenceLimitSeconds), QVariant(QStringLiteral("success")),
                     QVariant(QStringLiteral("Firmware upgrade completed.")), QVariant(r.logPath), QVariant(output)})
                query.addBindValue(value);
            if (!query.exec()) {
                std::printf("error: cannot fill the file\n");
                std::exit(2);
            }
        }
        query.exec(QStringLiteral("COMMIT"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
}

QString fileSystemOf(const QString &folder)
{
    struct statfs fs {};
    ::statfs(QFile::encodeName(folder).constData(), &fs);
    switch (fs.f_type) {
    case 0x01021994:
        return QStringLiteral("tmpfs");
    case 0xEF53:
        return QStringLiteral("ext4");
    case 0x9123683E:
        return QStringLiteral("btrfs");
    case 0x58465342:
        return QStringLiteral("xfs");
    }
    return QStringLiteral("0x%1").arg(ulong(fs.f_type), 0, 16);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    const int rows = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10000;
    const int tailKib = argc > 3 ? std::max(0, std::atoi(argv[3])) : 64;
    QTemporaryDir dir(folder + QStringLiteral("/bench-history-XXXXXX"));
    if (!dir.isValid())
        return 2;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    const QByteArray output = outputOf(qsizetype(tailKib) * 1024);

    Figure begin{}, finish{};
    {
        HistoryStore store(path);
        if (!store.isWritable())
            return 2;
        std::vector<qint64> ids(WriteRuns);
        begin = measure(WriteRuns, [&](int n) { ids[n] = store.begin(startOf(n)).value_or(0); });
        FlashRecord end = startOf(0);
        end.result = FlashResult::Success;
        end.outputTail = output;
        finish = measure(WriteRuns, [&](int n) { store.finish(ids[n], end); });
    }
    fill(path, rows - WriteRuns, output);

    QElapsedTimer openTimer;
    openTimer.start();
    HistoryStore store(path);
    const double openMs = openTimer.nsecsElapsed() / 1e6;
    if (!store.isWritable())
        return 2;
    int fetched = 0;
    const Figure window = measure(ReadRuns, [&](int) {
        QSqlQueryModel model;
        model.setQuery(QSqlQuery(HistoryStore::windowSelect(), QSqlDatabase::database(store.connectionName())));
        fetched = model.rowCount();
        // Every cell of the rows fetched, as the view asks for those it shows.
        for (int row = 0; row < fetched; ++row) {
            for (int column = 0; column < model.columnCount(); ++column)
                model.index(row, column).data();
        }
    });
    const Figure recent256 = measure(ReadRuns, [&](int) { store.recent(256); });
    int all = 0;
    const Figure recentAll = measure(ReadRuns, [&](int) { all = int(store.recent().size()); });
    const Figure running = measure(ReadRuns, [&](int) { store.running(); });

    const bool ok = begin.median <= BeginLimitMs && window.median <= WindowLimitMs && fetched > 0 && all == rows;
    std::printf("cores=%d fs=%s rows=%d tail_kib=%d file_mb=%.0f\n", QThread::idealThreadCount(),
                qPrintable(fileSystemOf(folder)), rows, tailKib, QFileInfo(path).size() / 1048576.0);
    std::printf("begin (running row, committed) median_ms=%.2f max_ms=%.2f limit_ms=%.1f (%d runs)\n", begin.median,
                begin.max, BeginLimitMs, WriteRuns);
    std::printf("finish (%d KiB output) median_ms=%.2f max_ms=%.2f (%d runs)\n", tailKib, finish.median, finish.max,
                WriteRuns);
    std::printf("open with damage check ms=%.1f\n", openMs);
    std::printf("window query to first %d rows fetched median_ms=%.2f max_ms=%.2f limit_ms=%.0f (%d runs)\n", fetched,
                window.median, window.max, WindowLimitMs, ReadRuns);
    std::printf("recent(256) median_ms=%.2f max_ms=%.2f; recent() of %d median_ms=%.1f max_ms=%.1f; running() "
                "median_ms=%.3f\n",
                recent256.median, recent256.max, all, recentAll.median, recentAll.max, running.median);
    std::printf("verdict=%s\n", ok ? "ok" : "OVER");
    return ok ? 0 : 1;
}
