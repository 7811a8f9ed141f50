#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

#include <sys/types.h>

// Where the lock lives, or why no safe place was found.
struct ToolLockPlace {
    QString path;
    QString problem; // set when path is empty
    QString note;    // a fallback was taken: one log line says why
};

// The machine-wide lock file in `machineDir` (/run/lock), so that every user,
// root and every session share one lock; where that folder is missing, the
// one in `runtimeDir` ($XDG_RUNTIME_DIR, else /tmp/quorvale-<uid>, made
// private). A runtime folder that another user owns, or that others may
// write, is never used: someone else could swap the lock file under us.
ToolLockPlace toolLockPlace(const QString &machineDir, const QString &runtimeDir);

// The processes /proc/locks names as holding a flock() on the file with this
// device and inode; waiters are left out.
QList<pid_t> flockHolders(QByteArrayView procLocks, dev_t device, ino_t inode);

// Why the lock was not taken, in English for the log: held by `holder`
// ("process 1234 (quorvale)", empty when unknown), or not to be taken at all
// (`error` set).
QString describeLockRefusal(const QString &holder, const QString &error);

// Keeps two copies of the program, of any user, from running the firmware
// tool at once: an upgrade holds the lock alone for its whole run, version
// queries share it. A flock() on a file, handed down to the tool itself
// (descriptor()), so the lock lasts as long as the tool runs, also when this
// program is gone, and is given back when the last holder ends, however it
// ends. Never waits: a lock held elsewhere is a refusal, not a pause.
class ToolLock {
public:
    enum class Result { Taken, Busy, Failed };

    // The machine-wide lock (see defaultPath()); a test may name its own file.
    explicit ToolLock(QString path = defaultPath());
    ~ToolLock();
    ToolLock(const ToolLock &) = delete;
    ToolLock &operator=(const ToolLock &) = delete;

    // For an upgrade: Taken when no one else holds the lock in any way.
    Result tryExclusive();
    // For a version query: Taken unless an upgrade holds it.
    Result tryShared();
    void release();
    bool isHeld() const { return m_fd >= 0; }
    // The locked descriptor while held, close-on-exec: a tool run clears
    // that flag in its own child only.
    int descriptor() const { return m_fd; }
    // After Failed: the lock file and the system's reason.
    const QString &error() const { return m_error; }
    // After Busy: who holds the lock, "process 1234 (quorvale)", where
    // /proc tells; empty otherwise. Looked up at each call, through /proc.
    QString holder() const;

    // The lock file of toolLockPath() for this machine, chosen once per
    // process; empty when there is no safe place for it.
    static QString defaultPath();
    // Why defaultPath() is empty.
    static QString defaultPathProblem();

private:
    Result tryLock(int operation);

    const QString m_path;
    int m_fd = -1;
    QString m_error;
    std::optional<std::pair<dev_t, ino_t>> m_busyFile; // the file of the last Busy
};
