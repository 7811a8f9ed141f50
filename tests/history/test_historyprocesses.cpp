#include "history/historystore.h"

#include "historytest.h"

#include <QDateTime>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <signal.h>
#include <unistd.h>

namespace {

constexpr int Copies = 3;
constexpr int RowsPerCopy = 40;

// Copies of the program starting and upgrading at once, each in a process of
// its own, all on one new file: every row arrives once.
TEST(HistoryProcesses, EveryRowOfCopiesWritingAtOnceArrivesOnce)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    // All start writing at one moment, after their slowest start-up.
    const QString go = QString::number(QDateTime::currentMSecsSinceEpoch() + 1500);
    std::vector<std::unique_ptr<QProcess>> copies;
    for (int copy = 0; copy < Copies; ++copy) {
        copies.push_back(std::make_unique<QProcess>());
        startChild(*copies.back(), "HistoryProcesses.DISABLED_Writer",
            {QStringLiteral("QUORVALE_HISTORY_FILE=") + path, QStringLiteral("QUORVALE_HISTORY_COPY=%1").arg(copy),
                QStringLiteral("QUORVALE_HISTORY_GO=") + go});
    }
    for (const auto &copy : copies) {
        ASSERT_TRUE(copy->waitForFinished(90000));
        EXPECT_EQ(copy->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(copy->exitCode(), 0);
    }

    HistoryStore store(path);
    const QList<FlashRecord> rows = store.recent();
    EXPECT_EQ(rows.size(), Copies * RowsPerCopy);
    QSet<qint64> ids;
    QSet<QString> attempts;
    for (const FlashRecord &row : rows) {
        ids.insert(row.id);
        attempts.insert(row.serial + u'/' + row.logPath);
        EXPECT_EQ(row.result, FlashResult::Success);
    }
    EXPECT_EQ(ids.size(), Copies * RowsPerCopy);
    EXPECT_EQ(attempts.size(), Copies * RowsPerCopy);
}

TEST(HistoryProcesses, DISABLED_Writer)
{
    const QString copy = qEnvironmentVariable("QUORVALE_HISTORY_COPY");
    const qint64 go = qEnvironmentVariable("QUORVALE_HISTORY_GO").toLongLong();
    while (QDateTime::currentMSecsSinceEpoch() < go)
        QThread::msleep(1);
    HistoryStore store(qEnvironmentVariable("QUORVALE_HISTORY_FILE"));
    ASSERT_TRUE(store.isWritable()) << store.problem().toStdString();
    for (int n = 0; n < RowsPerCopy; ++n) {
        FlashRecord row = startOf(n);
        row.serial = copy;
        const std::optional<qint64> id = store.begin(row);
        ASSERT_TRUE(id) << n;
        row.result = FlashResult::Success;
        ASSERT_TRUE(store.finish(*id, row)) << n;
    }
}

// Copies started together on a file that does not exist yet, round after
// round: each can write (SQLite refuses a new file's switch to WAL at once,
// without its busy wait, while another copy is switching it too).
TEST(HistoryProcesses, CopiesStartingTogetherOnANewFileAllWrite)
{
    constexpr int Openers = 6;
    QTemporaryDir dir;
    const QString go = QString::number(QDateTime::currentMSecsSinceEpoch() + 1500);
    std::vector<std::unique_ptr<QProcess>> copies;
    for (int copy = 0; copy < Openers; ++copy) {
        copies.push_back(std::make_unique<QProcess>());
        startChild(*copies.back(), "HistoryProcesses.DISABLED_Opener",
            {QStringLiteral("QUORVALE_HISTORY_DIR=") + dir.path(), QStringLiteral("QUORVALE_HISTORY_GO=") + go});
    }
    for (const auto &copy : copies) {
        ASSERT_TRUE(copy->waitForFinished(90000));
        EXPECT_EQ(copy->exitCode(), 0);
    }
}

TEST(HistoryProcesses, DISABLED_Opener)
{
    const qint64 go = qEnvironmentVariable("QUORVALE_HISTORY_GO").toLongLong();
    for (int round = 0; round < 10; ++round) {
        while (QDateTime::currentMSecsSinceEpoch() < go + round * 250)
            QThread::msleep(1);
        HistoryStore store(qEnvironmentVariable("QUORVALE_HISTORY_DIR") + QStringLiteral("/%1.sqlite").arg(round));
        ASSERT_TRUE(store.isWritable()) << "round " << round << ": " << store.problem().toStdString();
    }
}

// The program killed right after recording the start of a flash: the next
// start finds the row, whole, still running.
TEST(HistoryProcesses, RunningRowOutlivesAKilledProgram)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    QProcess killed;
    startChild(killed, "HistoryProcesses.DISABLED_BeginThenDie", {QStringLiteral("QUORVALE_HISTORY_FILE=") + path});
    ASSERT_TRUE(killed.waitForFinished(60000));
    EXPECT_EQ(killed.exitStatus(), QProcess::CrashExit);

    HistoryStore store(path);
    const QList<FlashRecord> running = store.running();
    ASSERT_EQ(running.size(), 1);
    FlashRecord expected = startOf();
    expected.id = running.first().id;
    EXPECT_EQ(running.first(), expected);
}

TEST(HistoryProcesses, DISABLED_BeginThenDie)
{
    HistoryStore store(qEnvironmentVariable("QUORVALE_HISTORY_FILE"));
    ASSERT_TRUE(store.begin(startOf()));
    ::kill(::getpid(), SIGKILL);
}

} // namespace
