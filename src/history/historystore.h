#pragma once

#include "history/flashrecord.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <optional>

class QSqlError;

// The history of upgrades: one SQLite file, one row per attempt. A record,
// not a gate: nothing here throws or stops a flash. A store that cannot be
// used says why in one log line when it is made, and each write that fails
// later says why in one line of its own; a store that is not writable just
// returns nothing.
//
// Every commit reaches the disk before the call returns (WAL journal,
// synchronous=FULL), so the "running" row of a flash survives a crash or a
// power cut: it is what tells the user at the next start that a flash did
// not finish. Several copies of the program may write at once; a write waits
// at most BusyTimeoutMs for another copy's, since the main thread calls these.
class HistoryStore {
public:
    static constexpr int SchemaVersion = 1;
    static constexpr int BusyTimeoutMs = 1000;

    // $XDG_STATE_HOME/quorvale/history.sqlite, by default under ~/.local/state.
    static QString defaultPath();

    // Opens the file, or makes it and any missing folder (mode 0700; folders
    // that exist are left as they are). A file that is not an SQLite
    // database, or a damaged one, is moved aside, never removed, as
    // PATH.corrupt-<UTC time> with its -wal and -shm, and a new one started.
    // A file of a newer schema is read and never written.
    explicit HistoryStore(const QString &path);
    ~HistoryStore();
    HistoryStore(const HistoryStore &) = delete;
    HistoryStore &operator=(const HistoryStore &) = delete;

    const QString &path() const { return m_path; }
    bool isOpen() const { return m_open; }
    bool isWritable() const { return m_writable; }
    // Why the store cannot be read or written, as the log line said; empty
    // when it can.
    const QString &problem() const { return m_problem; }

    // Records the start of an attempt, before the tool starts: the time, the
    // dock, versionBefore, the image, the silence limit and logPath, with the
    // result "running". Committed before it returns. The row's id.
    std::optional<qint64> begin(const FlashRecord &record);
    // The end of the attempt: ended, result, message, logPath, versionAfter,
    // and the last FlashRecord::TailBytes of outputTail.
    bool finish(qint64 id, const FlashRecord &end);
    bool setVersionAfter(qint64 id, const QString &version);
    // Rows still "running", oldest first.
    QList<FlashRecord> running() const;
    // Makes a row that is still "running" "interrupted". False when no such
    // row is running any more: of two copies starting at once, one reports it.
    bool markInterrupted(qint64 id, const QDateTime &ended, const QString &message);
    // Rows newest first, without their output (record() has it); all when
    // limit is negative.
    QList<FlashRecord> recent(int limit = -1) const;
    // One whole row, output included.
    std::optional<FlashRecord> record(qint64 id) const;

    // For a QSqlQueryModel in the History window, which fetches its rows as
    // they are scrolled into view: the connection to query, and the SELECT of
    // the window's columns (HistoryColumn), newest first. The model's query
    // must be gone before the store is.
    QString connectionName() const { return m_connection; }
    static QString windowSelect();

private:
    void open();
    bool moveAside(const QString &reason);
    bool prepareForWriting();
    void fail(const QString &problem, bool readable = false);
    void logWriteFailure(const QString &what, const QSqlError &error) const;
    QList<FlashRecord> select(const QString &sql, const QVariantList &values, bool withTail) const;

    const QString m_path;
    const QString m_connection;
    QSqlDatabase m_db;
    bool m_open = false;
    bool m_writable = false;
    QString m_problem;
};
