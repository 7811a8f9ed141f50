#include "history/historystore.h"

#include "core/log.h"
#include "core/printable.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QThread>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace {
// SQLite's SQLITE_BUSY, as Qt gives its native error code.
constexpr char SqliteBusy[] = "5";


const QString Driver = QStringLiteral("QSQLITE");
const QString Unrecorded = QStringLiteral("; upgrades will not be recorded");

// The record's columns, in the order select() reads them. The output
// comes last, so that reading the others never touches its pages.
enum Column {
    Id, Started, Ended, Manufacturer, Product, Serial, Syspath, VersionBefore, VersionAfter, ImagePath, ImageSize,
    ImageSha256, SilenceLimit, Result, Message, LogPath, OutputTail, ColumnCount
};
constexpr std::array<const char *, ColumnCount> ColumnNames{
    "id", "started", "ended", "manufacturer", "product", "serial", "syspath", "version_before", "version_after",
    "image_path", "image_size", "image_sha256", "silence_limit_seconds", "result", "message", "log_path", "output_tail",
};

QString columnList(int count)
{
    QStringList names;
    for (int c = 0; c < count; ++c)
        names.append(QLatin1String(ColumnNames[c]));
    return names.join(QStringLiteral(", "));
}

// Takes a database of schema version `from` to from + 1, inside the
// transaction that sets the new version. Version 0 is a new, empty file.
// A step, once released, never changes: files out there were made by it.
bool upgradeSchemaStep(QSqlQuery &query, int from)
{
    switch (from) {
    case 0:
        return query.exec(QStringLiteral("CREATE TABLE flashes ("
                                         "id INTEGER PRIMARY KEY, started TEXT NOT NULL, ended TEXT, "
                                         "manufacturer TEXT, product TEXT, serial TEXT, syspath TEXT, "
                                         "version_before TEXT, version_after TEXT, "
                                         "image_path TEXT, image_size INTEGER, image_sha256 TEXT, "
                                         "silence_limit_seconds INTEGER, result TEXT NOT NULL, message TEXT, "
                                         "log_path TEXT, output_tail BLOB)"))
            && query.exec(QStringLiteral("CREATE INDEX flashes_by_start ON flashes (started)"))
            // Start-up looks for unfinished flashes, a handful among thousands.
            && query.exec(QStringLiteral("CREATE INDEX flashes_running ON flashes (started) WHERE result = 'running'"));
    }
    return false;
}

// SQLite's result code, which Qt gives as text (extended codes carry the
// primary one in their low byte).
int sqliteCode(const QSqlError &error)
{
    return error.nativeErrorCode().toInt() & 0xff;
}
constexpr int SqliteReadOnly = 8;
constexpr int SqliteCorrupt = 11;
constexpr int SqliteNotADatabase = 26;

bool meansDamaged(const QSqlError &error)
{
    const int code = sqliteCode(error);
    return code == SqliteCorrupt || code == SqliteNotADatabase;
}

// A later version's file, whose rows this one cannot vouch for.
bool isNewer(int schemaVersion)
{
    return schemaVersion > HistoryStore::SchemaVersion;
}

// Paths and SQLite's texts stay on their log line.
QString oneLine(const QString &text)
{
    return withoutControlCharacters(text);
}

QString reasonOf(const QSqlError &error)
{
    return oneLine(error.databaseText().isEmpty() ? error.text() : error.databaseText());
}

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString stamp(const QDateTime &time)
{
    return (time.isValid() ? time : QDateTime::currentDateTimeUtc()).toUTC().toString(Qt::ISODateWithMs);
}

QDateTime fromStamp(const QVariant &value)
{
    return value.isNull() ? QDateTime() : QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
}

// Makes dir and any missing folder above it with mode 0700, as the XDG base
// directory rules ask; folders that exist keep the mode their owner chose.
bool makeFolder(const QString &dir, QString *why)
{
    QString at;
    for (const QString &part : QDir::cleanPath(dir).split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        at += QLatin1Char('/') + part;
        if (::mkdir(QFile::encodeName(at).constData(), 0700) != 0 && errno != EEXIST) {
            *why = systemReason(errno);
            return false;
        }
    }
    struct stat st;
    if (::stat(QFile::encodeName(at).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *why = systemReason(ENOTDIR);
        return false;
    }
    return true;
}

// Looks for damage through a read-only connection: it never writes the file
// and never folds a WAL into it when it closes, so a damaged file is moved
// aside as it was found. What says nothing about the contents (a folder that
// cannot be read) is left for the real opening to report.
std::optional<QString> damageIn(const QString &path, const QString &connection)
{
    std::optional<QString> damage;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(Driver, connection);
        db.setDatabaseName(path);
        db.setConnectOptions(
            QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1").arg(HistoryStore::BusyTimeoutMs));
        if (db.open()) {
            QSqlQuery query(db);
            QStringList found;
            if (query.exec(QStringLiteral("PRAGMA quick_check(1)"))) {
                while (query.next()) {
                    for (const QString &line : query.value(0).toString().split(QLatin1Char('\n'))) {
                        if (!line.startsWith(QLatin1String("*** in database")))
                            found.append(line);
                    }
                }
            }
            if (query.lastError().isValid())
                damage = meansDamaged(query.lastError()) ? std::optional(reasonOf(query.lastError())) : std::nullopt;
            else if (found != QStringList{QStringLiteral("ok")})
                damage = oneLine(found.join(QStringLiteral("; ")));
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return damage;
}

std::atomic<int> connections{0};

} // namespace

QString HistoryStore::defaultPath()
{
    // Only an absolute XDG_STATE_HOME counts, as the XDG rules say.
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/quorvale/history.sqlite");
}

HistoryStore::HistoryStore(const QString &path)
    : m_path(path)
    , m_connection(QStringLiteral("quorvale-history-%1").arg(connections++))
{
    open();
}

HistoryStore::~HistoryStore()
{
    if (m_db.isValid()) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

void HistoryStore::fail(const QString &problem, bool readable)
{
    m_problem = problem;
    m_open = readable;
    m_writable = false;
    logLine(QStringLiteral("[History] ") + problem);
}

void HistoryStore::open()
{
    if (!QSqlDatabase::isDriverAvailable(Driver))
        return fail(QStringLiteral("Qt's SQLite driver (QSQLITE) is not installed") + Unrecorded);
    const QFileInfo file(m_path);
    QString why;
    if (!makeFolder(file.absolutePath(), &why))
        return fail(QStringLiteral("Cannot make the folder ") + oneLine(file.absolutePath()) + QStringLiteral(": ")
            + why + Unrecorded);
    if (file.size() > 0) {
        const std::optional<QString> damage = damageIn(m_path, m_connection + QStringLiteral("-check"));
        if (damage && !moveAside(*damage))
            return;
    }

    m_db = QSqlDatabase::addDatabase(Driver, m_connection);
    m_db.setDatabaseName(m_path);
    // Qt's default would make the main thread wait up to 5 s for another copy.
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs));
    if (!m_db.open())
        return fail(QStringLiteral("Cannot open ") + oneLine(m_path) + QStringLiteral(": ") + reasonOf(m_db.lastError())
            + Unrecorded);
    if (prepareForWriting())
        m_open = m_writable = true;
}

bool HistoryStore::prepareForWriting()
{
    QSqlQuery query(m_db);
    bool inTransaction = false;
    const auto version = [&query]() -> std::optional<int> {
        if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
            return {};
        return query.value(0).toInt();
    };
    const auto cannot = [&](const QString &verb, bool readable) {
        const QSqlError error = query.lastError();
        if (inTransaction)
            query.exec(QStringLiteral("ROLLBACK"));
        fail(verb + oneLine(m_path) + QStringLiteral(": ") + reasonOf(error) + Unrecorded, readable);
        return false;
    };
    const auto newer = [&](int found) {
        if (inTransaction)
            query.exec(QStringLiteral("ROLLBACK"));
        query.exec(QStringLiteral("PRAGMA query_only = ON"));
        fail(oneLine(m_path)
                + QStringLiteral(
                    " is from a newer Quorvale (schema version %1; this one knows %2): shown, never changed")
                      .arg(found)
                      .arg(SchemaVersion)
                + Unrecorded,
            true);
        return false;
    };

    const std::optional<int> before = version();
    if (!before)
        return cannot(QStringLiteral("Cannot open "), false);
    if (isNewer(*before))
        return newer(*before);
    const QString cannotWrite = QStringLiteral("Cannot write ");
    const bool current = *before == SchemaVersion;
    // WAL: a commit is one append, and readers never wait for a writer.
    // FULL: each commit is on the disk before the call returns.
    // Switching a new file to WAL needs it alone for a moment, and SQLite
    // says "locked" at once, without its busy wait, while another copy is
    // opening it too (copies started together): asked again, within the
    // same bound as a write's wait.
    QElapsedTimer switching;
    switching.start();
    while (!query.exec(QStringLiteral("PRAGMA journal_mode = WAL"))) {
        if (query.lastError().nativeErrorCode() != QLatin1String(SqliteBusy) || switching.elapsed() >= BusyTimeoutMs)
            return cannot(cannotWrite, current);
        QThread::msleep(10);
    }
    if (!query.next() || query.value(0).toString() != QLatin1String("wal"))
        return cannot(cannotWrite, current);
    if (!query.exec(QStringLiteral("PRAGMA synchronous = FULL")))
        return cannot(cannotWrite, current);

    // Another copy may be making or upgrading the file right now: take the
    // write lock first, then look again.
    if (!query.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return cannot(cannotWrite, current);
    inTransaction = true;
    const std::optional<int> found = version();
    if (!found)
        return cannot(cannotWrite, current);
    if (isNewer(*found))
        return newer(*found);
    for (int step = *found; step < SchemaVersion; ++step) {
        if (!upgradeSchemaStep(query, step))
            return cannot(cannotWrite, false);
    }
    // Also the proof that the file can be written: SQLite opens a read-only
    // file without a word, and refuses here.
    if (!query.exec(QStringLiteral("PRAGMA user_version = %1").arg(SchemaVersion)))
        return cannot(cannotWrite, *found == SchemaVersion);
    if (!query.exec(*found == SchemaVersion ? QStringLiteral("ROLLBACK") : QStringLiteral("COMMIT")))
        return cannot(cannotWrite, false);
    return true;
}

bool HistoryStore::moveAside(const QString &damage)
{
    const QString time = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    const auto move = [](const QString &from, const QString &to) {
        return ::renameat2(AT_FDCWD, QFile::encodeName(from).constData(), AT_FDCWD, QFile::encodeName(to).constData(),
                           RENAME_NOREPLACE) == 0;
    };
    const auto cannot = [&](int error) {
        fail(oneLine(m_path) + QStringLiteral(" is damaged (") + damage
            + QStringLiteral(") and cannot be moved aside: ") + systemReason(error) + Unrecorded);
        return false;
    };
    // Never onto an earlier one.
    QString aside;
    for (int n = 0;; ++n) {
        aside = m_path + QStringLiteral(".corrupt-") + time + (n ? QStringLiteral("-%1").arg(n) : QString());
        if (move(m_path, aside))
            break;
        if (errno != EEXIST || n == 99)
            return cannot(errno);
    }
    // Its WAL and journal go with it: left beside a new file, SQLite would
    // apply them to that one.
    for (const char *suffix : {"-wal", "-shm", "-journal"}) {
        if (!move(m_path + QLatin1String(suffix), aside + QLatin1String(suffix)) && errno != ENOENT)
            return cannot(errno);
    }
    logLine(QStringLiteral("[History] ") + oneLine(m_path) + QStringLiteral(" is damaged (") + damage
            + QStringLiteral("); moved it aside as ") + oneLine(QFileInfo(aside).fileName())
            + QStringLiteral(" and started a new history"));
    return true;
}

void HistoryStore::logWriteFailure(const QString &what, const QSqlError &error) const
{
    logLine(QStringLiteral("[History] Could not record ") + what + QStringLiteral(" in ") + oneLine(m_path)
            + QStringLiteral(": ") + reasonOf(error));
}

std::optional<qint64> HistoryStore::begin(const FlashRecord &record)
{
    if (!m_writable)
        return {};
    QSqlQuery query(m_db);
    query.prepare(
        QStringLiteral("INSERT INTO flashes (started, manufacturer, product, serial, syspath, version_before, "
                       "image_path, image_size, image_sha256, silence_limit_seconds, result, log_path) "
                       "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const QVariant &value : {QVariant(stamp(record.started)), QVariant(record.manufacturer),
                                  QVariant(record.product), QVariant(record.serial), QVariant(record.syspath),
                                  QVariant(record.versionBefore), QVariant(record.imagePath),
                                  QVariant(record.imageSize), QVariant(record.imageSha256),
                                  QVariant(record.silenceLimitSeconds), QVariant(flashResultName(FlashResult::Running)),
                                  QVariant(record.logPath)})
        query.addBindValue(value);
    if (!query.exec()) {
        logWriteFailure(QStringLiteral("the start of an upgrade"), query.lastError());
        return {};
    }
    return query.lastInsertId().toLongLong();
}

bool HistoryStore::finish(qint64 id, const FlashRecord &end)
{
    if (!m_writable)
        return false;
    QSqlQuery query(m_db);
    query.prepare(
        QStringLiteral("UPDATE flashes SET ended = ?, result = ?, message = ?, log_path = ?, output_tail = ?, "
                       "version_after = ? WHERE id = ?"));
    for (const QVariant &value : {QVariant(stamp(end.ended)), QVariant(flashResultName(end.result)),
                                  QVariant(end.message), QVariant(end.logPath),
                                  QVariant(end.outputTail.right(FlashRecord::TailBytes)), QVariant(end.versionAfter),
                                  QVariant(id)})
        query.addBindValue(value);
    if (!query.exec()) {
        logWriteFailure(QStringLiteral("the end of upgrade %1").arg(id), query.lastError());
        return false;
    }
    return query.numRowsAffected() == 1;
}

bool HistoryStore::setVersionAfter(qint64 id, const QString &version)
{
    if (!m_writable)
        return false;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("UPDATE flashes SET version_after = ? WHERE id = ?"));
    query.addBindValue(version);
    query.addBindValue(id);
    if (!query.exec()) {
        logWriteFailure(QStringLiteral("the version after upgrade %1").arg(id), query.lastError());
        return false;
    }
    return query.numRowsAffected() == 1;
}

bool HistoryStore::markInterrupted(qint64 id, const QDateTime &ended, const QString &message)
{
    if (!m_writable)
        return false;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("UPDATE flashes SET ended = ?, result = ?, message = ? WHERE id = ? AND result = ?"));
    for (const QVariant &value : {QVariant(stamp(ended)), QVariant(flashResultName(FlashResult::Interrupted)),
                                  QVariant(message), QVariant(id), QVariant(flashResultName(FlashResult::Running))})
        query.addBindValue(value);
    if (!query.exec()) {
        logWriteFailure(QStringLiteral("the interruption of upgrade %1").arg(id), query.lastError());
        return false;
    }
    return query.numRowsAffected() == 1;
}

QList<FlashRecord> HistoryStore::running() const
{
    // The literal lets SQLite use the index of running rows.
    return select(QStringLiteral("SELECT %1 FROM flashes WHERE result = 'running' ORDER BY started, id")
                      .arg(columnList(OutputTail)), {}, false);
}

QList<FlashRecord> HistoryStore::recent(int limit) const
{
    return select(
        QStringLiteral("SELECT %1 FROM flashes ORDER BY started DESC, id DESC LIMIT ?").arg(columnList(OutputTail)),
        {limit}, false);
}

std::optional<FlashRecord> HistoryStore::record(qint64 id) const
{
    const QList<FlashRecord> rows =
        select(QStringLiteral("SELECT %1 FROM flashes WHERE id = ?").arg(columnList(ColumnCount)), {id}, true);
    return rows.isEmpty() ? std::nullopt : std::optional(rows.first());
}

QString HistoryStore::windowSelect()
{
    return QStringLiteral(
        "SELECT id, started, manufacturer, product, serial, image_path, version_before, version_after, "
        "result, message, log_path FROM flashes ORDER BY started DESC, id DESC");
}

QList<FlashRecord> HistoryStore::select(const QString &sql, const QVariantList &values, bool withTail) const
{
    QList<FlashRecord> rows;
    if (!m_open)
        return rows;
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(sql);
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (query.exec()) {
        while (query.next()) {
            // A result a later version added is not this one's to judge.
            const std::optional<FlashResult> result = flashResultFromName(query.value(Result).toString());
            if (!result)
                continue;
            FlashRecord &r = rows.emplace_back();
            r.id = query.value(Id).toLongLong();
            r.started = fromStamp(query.value(Started));
            r.ended = fromStamp(query.value(Ended));
            r.manufacturer = query.value(Manufacturer).toString();
            r.product = query.value(Product).toString();
            r.serial = query.value(Serial).toString();
            r.syspath = query.value(Syspath).toString();
            r.versionBefore = query.value(VersionBefore).toString();
            r.versionAfter = query.value(VersionAfter).toString();
            r.imagePath = query.value(ImagePath).toString();
            r.imageSize = query.value(ImageSize).toLongLong();
            r.imageSha256 = query.value(ImageSha256).toString();
            r.silenceLimitSeconds = query.value(SilenceLimit).toInt();
            r.result = *result;
            r.message = query.value(Message).toString();
            r.logPath = query.value(LogPath).toString();
            if (withTail)
                r.outputTail = query.value(OutputTail).toByteArray();
        }
    }
    if (query.lastError().isValid())
        logLine(QStringLiteral("[History] Could not read ") + oneLine(m_path) + QStringLiteral(": ")
            + reasonOf(query.lastError()));
    return rows;
}
