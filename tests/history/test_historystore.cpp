#include "history/historystore.h"

#include "historytest.h"
#include "logcapture.h"

#include <QDir>
#include <QSqlQueryModel>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// Other programs and later versions read the file: the names never change.
TEST(FlashResultNames, EachResultHasItsStoredName)
{
    const struct {
        FlashResult result;
        const char *name;
    } cases[] = {
        {FlashResult::Running, "running"},       {FlashResult::Success, "success"},
        {FlashResult::Failed, "failed"},         {FlashResult::AbnormalEnd, "abnormal end"},
        {FlashResult::LaunchFailed, "could not launch"}, {FlashResult::Refused, "refused"},
        {FlashResult::Interrupted, "interrupted"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(flashResultName(c.result), QLatin1String(c.name));
        EXPECT_EQ(flashResultFromName(QString::fromLatin1(c.name)), c.result);
    }
    for (const char *unknown : {"", "Success", "abnormal_end", "verifying"})
        EXPECT_EQ(flashResultFromName(QString::fromLatin1(unknown)), std::nullopt) << unknown;
}

TEST(HistoryStore, DefaultPathFollowsXdgStateHome)
{
    const QByteArray saved = qgetenv("XDG_STATE_HOME");
    const struct {
        const char *name;
        const char *state;
        QString expected;
    } cases[] = {
        {"set", "/var/state", QStringLiteral("/var/state/quorvale/history.sqlite")},
        {"unset", nullptr, QDir::homePath() + QStringLiteral("/.local/state/quorvale/history.sqlite")},
        {"relative, so ignored", "state", QDir::homePath() + QStringLiteral("/.local/state/quorvale/history.sqlite")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        c.state ? qputenv("XDG_STATE_HOME", c.state) : qunsetenv("XDG_STATE_HOME");
        EXPECT_EQ(HistoryStore::defaultPath(), c.expected);
    }
    saved.isNull() ? qunsetenv("XDG_STATE_HOME") : qputenv("XDG_STATE_HOME", saved);
}

// What the upgrade flow gives comes back as it was, however it reads: values
// reach SQLite only as bound parameters. Times are stored as UTC text with
// milliseconds, the form the window sorts and other programs read.
TEST(HistoryStore, KeepsEveryFieldAsGiven)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    HistoryStore store(path);
    ASSERT_TRUE(store.isWritable()) << store.problem().toStdString();
    FlashRecord row = startOf();
    const std::optional<qint64> id = store.begin(row);
    ASSERT_TRUE(id);
    row.id = *id;
    EXPECT_EQ(store.running(), QList<FlashRecord>{row});

    row.ended = row.started.addSecs(95);
    row.result = FlashResult::Failed;
    row.message = QStringLiteral("Firmware update failed: 'checksum' \"mismatch\"\n%1 ?");
    row.logPath = QStringLiteral("/tmp/talvex_upgrade_'1'.log");
    row.versionAfter = QStringLiteral("1.0.3'--");
    const char output[] = "progress 10%\r\n\xff\xfe not UTF-8 \x00 NUL";
    row.outputTail = QByteArray(output, sizeof output - 1);
    EXPECT_TRUE(store.finish(*id, row));
    EXPECT_EQ(store.record(*id), row);
    EXPECT_TRUE(store.running().isEmpty());

    EXPECT_TRUE(store.setVersionAfter(*id, QStringLiteral("2.1.0")));
    EXPECT_EQ(store.record(*id)->versionAfter, QStringLiteral("2.1.0"));
    EXPECT_FALSE(store.finish(*id + 1, row)) << "no such row";

    OtherConnection other(path);
    EXPECT_EQ(other.value(QStringLiteral("SELECT started || ' ' || ended FROM flashes")).toString(),
              QStringLiteral("2026-12-06T22:41:05.123Z 2026-12-06T22:42:40.123Z"));
    EXPECT_EQ(other.value(QStringLiteral("SELECT count(*) FROM flashes")).toInt(), 1);
}

// Each way an attempt can end is stored and read back as itself; the window's
// query names its columns in HistoryColumn's order, newest first.
TEST(HistoryStore, RowsOfEachKindNewestFirst)
{
    QTemporaryDir dir;
    HistoryStore store(dir.filePath(QStringLiteral("history.sqlite")));
    const FlashResult ends[] = {FlashResult::Success, FlashResult::Failed, FlashResult::AbnormalEnd,
                                FlashResult::LaunchFailed, FlashResult::Refused, FlashResult::Interrupted};
    QList<FlashRecord> expected; // newest first
    for (int n = 0; n < 6; ++n) {
        FlashRecord row = startOf(n);
        row.id = store.begin(row).value_or(0);
        row.ended = row.started.addSecs(30);
        row.result = ends[n];
        row.message = flashResultName(ends[n]) + QStringLiteral(" message");
        ASSERT_TRUE(store.finish(row.id, row));
        expected.prepend(row);
    }
    FlashRecord running = startOf(6);
    running.id = store.begin(running).value_or(0);
    expected.prepend(running);
    EXPECT_EQ(store.recent(), expected);
    EXPECT_EQ(store.recent(2), expected.mid(0, 2));
    EXPECT_EQ(store.running(), QList<FlashRecord>{running});

    QSqlQueryModel model;
    model.setQuery(QSqlQuery(HistoryStore::windowSelect(), QSqlDatabase::database(store.connectionName())));
    ASSERT_EQ(model.rowCount(), 7);
    const FlashRecord &oldest = expected.last();
    const auto cell = [&model](int row, HistoryColumn column) { return model.index(row, int(column)).data(); };
    EXPECT_EQ(cell(6, HistoryColumn::Id).toLongLong(), oldest.id);
    EXPECT_EQ(cell(6, HistoryColumn::Started).toString(), QStringLiteral("2026-12-06T22:41:05.123Z"));
    const std::pair<HistoryColumn, QString> texts[] = {
        {HistoryColumn::Manufacturer, oldest.manufacturer}, {HistoryColumn::Product, oldest.product},
        {HistoryColumn::Serial, oldest.serial},             {HistoryColumn::ImagePath, oldest.imagePath},
        {HistoryColumn::VersionBefore, oldest.versionBefore}, {HistoryColumn::VersionAfter, oldest.versionAfter},
        {HistoryColumn::Result, QStringLiteral("success")},  {HistoryColumn::Message, oldest.message},
        {HistoryColumn::LogPath, oldest.logPath},
    };
    for (const auto &[column, text] : texts)
        EXPECT_EQ(cell(6, column).toString(), text) << int(column);
    EXPECT_EQ(cell(0, HistoryColumn::Result).toString(), QStringLiteral("running"));
}

// Only a row still running becomes interrupted, once: of two copies starting
// together one tells the user, and a flash that did end keeps its result.
TEST(HistoryStore, InterruptsOnlyWhatStillRuns)
{
    QTemporaryDir dir;
    HistoryStore store(dir.filePath(QStringLiteral("history.sqlite")));
    FlashRecord done = startOf(1);
    done.id = store.begin(done).value_or(0);
    FlashRecord cut = startOf(0); // began a second earlier, by the clock of another copy
    cut.id = store.begin(cut).value_or(0);
    EXPECT_EQ(store.running(), (QList<FlashRecord>{cut, done})) << "oldest first";

    const QDateTime later(QDate(2026, 12, 8), QTime(9, 0), QTimeZone::utc());
    EXPECT_TRUE(
        store.markInterrupted(cut.id, later, QStringLiteral("The program closed before the upgrade finished.")));
    EXPECT_FALSE(store.markInterrupted(cut.id, later.addSecs(5), QStringLiteral("second copy")));
    cut.result = FlashResult::Interrupted;
    cut.ended = later;
    cut.message = QStringLiteral("The program closed before the upgrade finished.");
    EXPECT_EQ(store.record(cut.id), cut);

    done.result = FlashResult::Success;
    done.ended = later;
    ASSERT_TRUE(store.finish(done.id, done));
    EXPECT_FALSE(store.markInterrupted(done.id, later, QStringLiteral("late")));
    EXPECT_EQ(store.record(done.id), done);
    EXPECT_TRUE(store.running().isEmpty());
}

// The file keeps the end of a long output, where the tool says how it ended.
TEST(HistoryStore, KeepsTheEndOfTheOutput)
{
    QTemporaryDir dir;
    HistoryStore store(dir.filePath(QStringLiteral("history.sqlite")));
    const struct {
        const char *name;
        qsizetype size;
    } cases[] = {{"empty", 0}, {"short", 100}, {"exactly the limit", FlashRecord::TailBytes},
                 {"one byte over", FlashRecord::TailBytes + 1}, {"far over", 5 * FlashRecord::TailBytes + 17}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray output;
        for (qsizetype i = 0; i < c.size; ++i)
            output.append(char('a' + i % 23));
        FlashRecord row = startOf();
        const qint64 id = store.begin(row).value_or(0);
        row.outputTail = output;
        ASSERT_TRUE(store.finish(id, row));
        EXPECT_EQ(store.record(id)->outputTail, output.right(FlashRecord::TailBytes));
    }
}

// WAL and synchronous=FULL: a commit is on the disk before the call returns,
// so the "running" row survives a power cut. The schema version is in the file.
TEST(HistoryStore, FileSettingsThatKeepTheRunningRow)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    ASSERT_TRUE(writeFile(path, {})); // an empty file is a database of version 0
    LogCapture log;
    {
        HistoryStore store(path);
        ASSERT_TRUE(store.isWritable());
        QSqlQuery query(QSqlDatabase::database(store.connectionName()));
        ASSERT_TRUE(query.exec(QStringLiteral("PRAGMA synchronous")) && query.next());
        EXPECT_EQ(query.value(0).toInt(), 2) << "FULL";
    }
    OtherConnection other(path);
    EXPECT_EQ(other.value(QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("wal"));
    EXPECT_EQ(other.value(QStringLiteral("PRAGMA user_version")).toInt(), HistoryStore::SchemaVersion);
    EXPECT_EQ(log.texts(), QStringList{});
}

// New folders are private, as the XDG rules ask; a folder that exists keeps
// the mode its owner chose.
TEST(HistoryStore, MakesMissingFoldersPrivate)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("shared/quorvale")));
    ASSERT_EQ(::chmod(QFile::encodeName(dir.filePath(QStringLiteral("shared/quorvale"))).constData(), 0750), 0);
    const mode_t mask = ::umask(0);
    HistoryStore fresh(dir.filePath(QStringLiteral("state/deeper/quorvale/history.sqlite")));
    HistoryStore existing(dir.filePath(QStringLiteral("shared/quorvale/history.sqlite")));
    ::umask(mask);
    EXPECT_TRUE(fresh.isWritable());
    EXPECT_TRUE(existing.isWritable());
    const auto mode = [&dir](const char *folder) {
        struct stat st {};
        ::stat(QFile::encodeName(dir.filePath(QLatin1String(folder))).constData(), &st);
        return st.st_mode & 07777;
    };
    for (const char *folder : {"state", "state/deeper", "state/deeper/quorvale"})
        EXPECT_EQ(mode(folder), 0700u) << folder;
    EXPECT_EQ(mode("shared/quorvale"), 0750u);
}

} // namespace
