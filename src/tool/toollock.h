#pragma once

#include <QString>

// Keeps two copies of the program from running the firmware tool on the same
// dock at once: an upgrade holds the lock alone for its whole run, version
// queries share it. Held on a file under the user's runtime folder with
// flock(), so it is given back when its holder ends, however it ends. Never
// waits: a lock held elsewhere is a refusal, not a pause.
class ToolLock {
public:
    // The lock file in $XDG_RUNTIME_DIR (else Qt's runtime location, else
    // /tmp/quorvale-<uid>); a test may name its own.
    explicit ToolLock(QString path = defaultPath());
    ~ToolLock();
    ToolLock(const ToolLock &) = delete;
    ToolLock &operator=(const ToolLock &) = delete;

    // For an upgrade: true when no one else holds the lock in any way.
    bool tryExclusive();
    // For a version query: true unless an upgrade holds it.
    bool tryShared();
    void release();
    bool isHeld() const { return m_held; }
    // Why the last try failed when the lock file itself could not be opened.
    const QString &error() const { return m_error; }

    static QString defaultPath();

private:
    bool tryLock(int operation);

    const QString m_path;
    int m_fd = -1;
    bool m_held = false;
    QString m_error;
};
