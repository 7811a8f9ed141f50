#include "history/historystore.h"

#include "historytest.h"
#include "logcapture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A file of the current schema with some rows, closed as the program leaves it.
void makeHistory(const QString &path, int rows, qsizetype outputSize = 0)
{
    HistoryStore store(path);
    ASSERT_TRUE(store.isWritable()) << store.problem().toStdString();
    for (int n = 0; n < rows; ++n) {
        FlashRecord row = startOf(n);
        row.result = FlashResult::Success;
        row.outputTail = QByteArray(outputSize, char('a' + n % 26));
        ASSERT_TRUE(store.finish(store.begin(row).value_or(0), row));
    }
}

QString stampOf(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
}

// Never removed, never written: a file that is not a database, or a damaged
// one, is moved aside whole with its WAL, beside any moved before, and a new
// history starts. One log line says so.
TEST(HistoryFaults, DamagedFileIsMovedAsideAndANewOneStarted)
{
    QTemporaryDir dir;
    const QString healthy = dir.filePath(QStringLiteral("healthy.sqlite"));
    makeHistory(healthy, 40, 2000);
    const QByteArray good = readFile(healthy);
    ASSERT_GT(good.size(), 16 * 4096);
    const auto garbled = [&good](qsizetype at, qsizetype size, char fill) {
        return QByteArray(good).replace(at, size, QByteArray(size, fill));
    };
    const struct {
        const char *name;
        QByteArray bytes;
        const char *reason; // nullptr: SQLite's own words for the damage
        bool withWal = false;
        bool earlierMovedAside = false;
    } cases[] = {
        {"a text file", QByteArray("my notes about the dock\n").repeated(20), "file is not a database", false, true},
        {"three bytes", "abc", "file is not a database"},
        {"its header overwritten", garbled(0, 16, 'X'), "file is not a database"},
        {"a page garbled", garbled(4096, 4096, '\xff'), nullptr, true},
        {"cut short", good.left(good.size() / 2), nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir here;
        const QString path = here.filePath(QStringLiteral("history.sqlite"));
        ASSERT_TRUE(writeFile(path, c.bytes));
        const QByteArray wal = QByteArray("stale WAL frames").repeated(100);
        if (c.withWal) {
            ASSERT_TRUE(writeFile(path + QStringLiteral("-wal"), wal));
            ASSERT_TRUE(writeFile(path + QStringLiteral("-shm"), QByteArray(32768, 0)));
        }
        QStringList earlier;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        if (c.earlierMovedAside) {
            for (int s = 0; s < 3; ++s) {
                earlier.append(path + QStringLiteral(".corrupt-") + stampOf(now.addSecs(s)));
                ASSERT_TRUE(writeFile(earlier.last(), "earlier"));
            }
        }

        LogCapture log;
        HistoryStore store(path);
        EXPECT_TRUE(store.isWritable());
        EXPECT_TRUE(store.recent().isEmpty());
        EXPECT_TRUE(store.begin(startOf()));

        const QStringList lines = log.texts();
        ASSERT_EQ(lines.size(), 1) << lines.join(u'\n').toStdString();
        const QRegularExpressionMatch line
            = QRegularExpression(QStringLiteral("^\\[History\\] ") + QRegularExpression::escape(path)
                + QStringLiteral(
                    " is damaged \\((.+)\\); moved it aside as (history\\.sqlite\\.corrupt-(\\d{8}T\\d{6}Z)(-\\d+)?)"
                    " and started a new history$"))
                  .match(lines.first());
        ASSERT_TRUE(line.hasMatch()) << lines.first().toStdString();
        if (c.reason) {
            EXPECT_EQ(line.captured(1), QLatin1String(c.reason));
        }
        const QString aside = here.filePath(line.captured(2));
        EXPECT_FALSE(earlier.contains(aside));
        QStringList around; // the time it was moved, in UTC
        for (int s = -1; s < 4; ++s)
            around.append(stampOf(now.addSecs(s)));
        EXPECT_TRUE(around.contains(line.captured(3))) << line.captured(3).toStdString();
        EXPECT_EQ(readFile(aside), c.bytes);
        for (const QString &file : earlier)
            EXPECT_EQ(readFile(file), "earlier");
        if (c.withWal) {
            EXPECT_EQ(readFile(aside + QStringLiteral("-wal")), wal);
            EXPECT_TRUE(QFile::exists(aside + QStringLiteral("-shm")));
        }
    }
}

// A later version's file is read and left exactly as it was.
TEST(HistoryFaults, NewerSchemaIsReadNeverWritten)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    makeHistory(path, 2);
    {
        OtherConnection newer(path);
        ASSERT_TRUE(newer.exec(QStringLiteral("ALTER TABLE flashes ADD COLUMN verified TEXT")));
        ASSERT_TRUE(newer.exec(QStringLiteral("PRAGMA user_version = 2")));
    }
    const QByteArray before = readFile(path);
    LogCapture log;
    {
        HistoryStore store(path);
        EXPECT_TRUE(store.isOpen());
        EXPECT_FALSE(store.isWritable());
        EXPECT_EQ(store.recent().size(), 2);
        const qint64 id = store.recent().value(0).id;
        EXPECT_FALSE(store.begin(startOf()));
        EXPECT_FALSE(store.finish(id, startOf()));
        EXPECT_FALSE(store.markInterrupted(id, QDateTime::currentDateTimeUtc(), QStringLiteral("x")));
        EXPECT_EQ(store.problem(),
            path
                + QStringLiteral(" is from a newer Quorvale (schema version 2; this one knows 1):"
                                 " shown, never changed; upgrades will not be recorded"));
    }
    EXPECT_EQ(log.texts(), QStringList{QStringLiteral("[History] ") + path + QStringLiteral(
                               " is from a newer Quorvale (schema version 2; this one knows 1): shown, never changed;"
                               " upgrades will not be recorded")});
    EXPECT_EQ(readFile(path), before);
}

// Another copy holding the write lock holds the main thread up for the busy
// timeout, long enough for its own write to end, and no longer.
TEST(HistoryFaults, WaitsForAnotherWriterABoundedTime)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    HistoryStore store(path);
    OtherConnection other(path);
    ASSERT_TRUE(other.exec(QStringLiteral("BEGIN IMMEDIATE")));
    LogCapture log;
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(store.begin(startOf()));
    EXPECT_GE(timer.elapsed(), 800);
    EXPECT_LE(timer.elapsed(), 2500);
    EXPECT_EQ(log.texts(), QStringList{QStringLiteral("[History] Could not record the start of an upgrade in ") + path
                                       + QStringLiteral(": database is locked")});
    ASSERT_TRUE(other.exec(QStringLiteral("ROLLBACK")));
    EXPECT_TRUE(store.begin(startOf()));
}

// Read-only places, as a mount makes them (permission bits do not stop root),
// and a folder that cannot be made in one: the child below runs in a mount
// namespace of its own where these are read-only.
TEST(HistoryFaults, ReadOnlyFileOrFolder)
{
    QTemporaryDir dir;
    const auto path = [&dir](const char *name) { return dir.filePath(QLatin1String(name)); };
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("file")) && QDir(dir.path()).mkpath(QStringLiteral("folder"))
        && QDir(dir.path()).mkpath(QStringLiteral("damaged")) && QDir(dir.path()).mkpath(QStringLiteral("empty")));
    makeHistory(path("file/history.sqlite"), 2);
    makeHistory(path("folder/history.sqlite"), 2);
    ASSERT_TRUE(writeFile(path("damaged/history.sqlite"), "not a database"));
    QProcess child;
    startChild(child, "HistoryFaults.DISABLED_ReadOnlyFileOrFolderChild",
        {QStringLiteral("QUORVALE_HISTORY_DIR=") + dir.path()},
        {QStringLiteral("unshare"), QStringLiteral("-rm"), QStringLiteral("sh"), QStringLiteral("-c"),
            QStringLiteral("set -e; for m in file/history.sqlite folder damaged empty; do"
                           " mount --bind \"$QUORVALE_HISTORY_DIR/$m\" \"$QUORVALE_HISTORY_DIR/$m\";"
                           " mount -o remount,bind,ro \"$QUORVALE_HISTORY_DIR/$m\"; done; exec \"$@\""),
            QStringLiteral("sh")});
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0);
    EXPECT_EQ(readFile(path("damaged/history.sqlite")), "not a database");
}

TEST(HistoryFaults, DISABLED_ReadOnlyFileOrFolderChild)
{
    const QString dir = qEnvironmentVariable("QUORVALE_HISTORY_DIR");
    const QString unrecorded = QStringLiteral("; upgrades will not be recorded");
    const struct {
        const char *name;
        bool readable;
        QString line;
    } cases[] = {
        {"file/history.sqlite", true,
            QStringLiteral("Cannot write %1: attempt to write a readonly database") + unrecorded},
        {"folder/history.sqlite", false, QStringLiteral("Cannot open %1: unable to open database file") + unrecorded},
        {"empty/history.sqlite", false, QStringLiteral("Cannot open %1: unable to open database file") + unrecorded},
        {"empty/quorvale/history.sqlite", false,
            QStringLiteral("Cannot make the folder ") + dir + QStringLiteral("/empty/quorvale: Read-only file system")
                + unrecorded},
        {"damaged/history.sqlite", false,
            QStringLiteral("%1 is damaged (file is not a database) and cannot be moved aside: Read-only file system")
                + unrecorded},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir + QLatin1Char('/') + QLatin1String(c.name);
        LogCapture log;
        HistoryStore store(path);
        EXPECT_EQ(store.isOpen(), c.readable);
        EXPECT_FALSE(store.isWritable());
        EXPECT_EQ(store.recent().size(), c.readable ? 2 : 0);
        EXPECT_FALSE(store.begin(startOf()));
        EXPECT_EQ(log.texts(),
            QStringList {QStringLiteral("[History] ") + QString(c.line).replace(QStringLiteral("%1"), path)});
    }
}

// A disk that fills: the write that does not fit says why, what was written
// stays whole, and writing goes on once there is room again. Runs where
// QUORVALE_FULL_DIR is a small file system of its own.
TEST(HistoryFullDisk, WritesThatDoNotFitSayWhyAndLoseNothing)
{
    const QString full = qEnvironmentVariable("QUORVALE_FULL_DIR");
    if (full.isEmpty())
        GTEST_SKIP() << "needs a small file system of its own";
    const QString path = full + QStringLiteral("/quorvale/history.sqlite");
    const QString fillerPath = full + QStringLiteral("/filler");
    const auto fillDisk = [&fillerPath] {
        QFile filler(fillerPath);
        ASSERT_TRUE(filler.open(QIODevice::Append | QIODevice::Unbuffered));
        while (filler.write(QByteArray(512, 'x')) == 512) {
        }
    };

    HistoryStore store(path);
    ASSERT_TRUE(store.isWritable()) << store.problem().toStdString();
    FlashRecord first = startOf(0);
    first.id = store.begin(first).value_or(0);
    fillDisk();
    {
        LogCapture log;
        FlashRecord big = startOf(1);
        big.outputTail = QByteArray(FlashRecord::TailBytes, 'o');
        big.result = FlashResult::Success;
        EXPECT_FALSE(store.finish(first.id, big));
        EXPECT_EQ(log.texts(),
            QStringList {QStringLiteral("[History] Could not record the end of upgrade %1 in ").arg(first.id) + path
                + QStringLiteral(": database or disk is full")});
    }
    EXPECT_EQ(store.running(), QList<FlashRecord>{first});
    ASSERT_TRUE(QFile::remove(fillerPath));
    first.result = FlashResult::Success;
    EXPECT_TRUE(store.finish(first.id, first));
    EXPECT_TRUE(store.begin(startOf(2)));
    EXPECT_EQ(store.recent().size(), 2);

    // No room to start a history at all.
    fillDisk();
    LogCapture log;
    const QString other = full + QStringLiteral("/other/history.sqlite");
    HistoryStore none(other);
    EXPECT_FALSE(none.isWritable());
    EXPECT_FALSE(none.begin(startOf()));
    EXPECT_EQ(log.texts(), QStringList{QStringLiteral("[History] Cannot write ") + other
                                       + QStringLiteral(": database or disk is full; upgrades will not be recorded")});
}

} // namespace
