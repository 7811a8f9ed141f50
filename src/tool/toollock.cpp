#include "tool/toollock.h"

#include "core/log.h"
#include "core/printable.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {
const QString LockName = QStringLiteral("quorvale-firmware-tool.lock");

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Opens the lock file read-only (all flock() needs), never through a
// symbolic link and never blocking on something that is not a file. An
// existing file is opened without O_CREAT: in a sticky shared folder the
// kernel refuses O_CREAT on another user's file (fs.protected_regular), even
// one that exists. A new file is readable by all, whatever the umask, so
// that every user's copy can take the same lock.
int openLockFile(const QString &path, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    const int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    int fd = ::open(name.constData(), flags);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(name.constData(), flags | O_CREAT | O_EXCL, 0644);
        if (fd >= 0)
            ::fchmod(fd, 0644);
        else if (errno == EEXIST) // made by another copy just now
            fd = ::open(name.constData(), flags);
    }
    if (fd < 0) {
        *error = errno == ELOOP ? QStringLiteral(" is a symbolic link, which is never followed")
                                : QStringLiteral(": ") + systemReason(errno);
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *error = QStringLiteral(" is not a regular file");
        return -1;
    }
    return fd;
}

// Whether the path still names the file open at fd: a lock file removed and
// made anew would give two copies two different locks.
bool stillAtPath(int fd, const QString &path)
{
    struct stat open, named;
    return ::fstat(fd, &open) == 0 && ::lstat(QFile::encodeName(path).constData(), &named) == 0
        && open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

enum class HasOpen { No, Yes, Unknown };

HasOpen hasFileOpen(pid_t pid, dev_t device, ino_t inode)
{
    const QByteArray fdDir = "/proc/" + QByteArray::number(pid) + "/fd/";
    DIR *dir = ::opendir(fdDir.constData());
    if (!dir)
        return errno == EACCES ? HasOpen::Unknown : HasOpen::No; // another user's process, or gone
    HasOpen found = HasOpen::No;
    while (const dirent *entry = ::readdir(dir)) {
        struct stat st;
        if (entry->d_name[0] != '.' && ::stat((fdDir + entry->d_name).constData(), &st) == 0 && st.st_dev == device
            && st.st_ino == inode) {
            found = HasOpen::Yes;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

// "process 1234 (quorvale)"; a process names itself, so the name is cleaned.
QString describeProcess(pid_t pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    QString name;
    if (comm.open(QIODevice::ReadOnly))
        name = withoutControlCharacters(QString::fromUtf8(comm.read(64).trimmed()));
    const QString process = QStringLiteral("process %1").arg(pid);
    return name.isEmpty() ? process : process + QStringLiteral(" (") + name + QLatin1Char(')');
}

// The process that holds the lock file open: the one /proc/locks names when
// it still has the file (it may have died and left the lock to the tool it
// started), else any process with the file open.
QString lockHolder(dev_t device, ino_t inode)
{
    QFile locks(QStringLiteral("/proc/locks"));
    const QList<pid_t> named =
        locks.open(QIODevice::ReadOnly) ? flockHolders(locks.readAll(), device, inode) : QList<pid_t>();
    for (const pid_t pid : named) {
        if (pid != ::getpid() && hasFileOpen(pid, device, inode) != HasOpen::No)
            return describeProcess(pid);
    }
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return {};
    QString found;
    while (const dirent *entry = ::readdir(proc)) {
        bool number = false;
        const pid_t pid = QByteArray(entry->d_name).toInt(&number);
        if (number && pid != ::getpid() && hasFileOpen(pid, device, inode) == HasOpen::Yes) {
            found = describeProcess(pid);
            break;
        }
    }
    ::closedir(proc);
    return found;
}

const ToolLockPlace &machinePlace()
{
    static const ToolLockPlace place = [] {
        QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        if (runtime.isEmpty())
            runtime = QStringLiteral("/tmp/quorvale-%1").arg(::geteuid());
        ToolLockPlace chosen = toolLockPlace(QStringLiteral("/run/lock"), runtime);
        if (!chosen.note.isEmpty())
            logLine(chosen.note);
        return chosen;
    }();
    return place;
}
} // namespace

ToolLockPlace toolLockPlace(const QString &machineDir, const QString &runtimeDir)
{
    struct stat st;
    const QByteArray machine = QFile::encodeName(machineDir);
    QString why;
    if (::stat(machine.constData(), &st) != 0)
        why = systemReason(errno);
    else if (!S_ISDIR(st.st_mode) || st.st_uid != 0 || ((st.st_mode & S_IWOTH) && !(st.st_mode & S_ISVTX)))
        why = QStringLiteral("not a folder that root owns and keeps safe");
    else
        return {machineDir + QLatin1Char('/') + LockName, {}, {}};

    const QByteArray runtime = QFile::encodeName(runtimeDir);
    if (!runtimeDir.isEmpty())
        ::mkdir(runtime.constData(), 0700); // already there in a desktop session
    if (runtimeDir.isEmpty() || ::lstat(runtime.constData(), &st) != 0 || !S_ISDIR(st.st_mode)
        || st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)))
        return {{}, QStringLiteral("no safe folder for the firmware tool lock: %1 (%2), and %3 is not a folder of this user's alone")
                        .arg(withoutControlCharacters(machineDir), why, withoutControlCharacters(runtimeDir)), {}};
    return {runtimeDir + QLatin1Char('/') + LockName, {},
            QStringLiteral("The machine-wide lock folder %1 cannot be used (%2); the firmware tool lock is %3/%4, "
                           "which other users' copies of Quorvale do not see")
                .arg(withoutControlCharacters(machineDir), why, withoutControlCharacters(runtimeDir), LockName)};
}

QString describeLockRefusal(const QString &holder, const QString &error)
{
    if (!error.isEmpty())
        return QStringLiteral("cannot take the firmware tool lock: ") + error;
    return holder.isEmpty() ? QStringLiteral("another process is using the firmware tool")
                            : QStringLiteral("the firmware tool is in use by ") + holder;
}

QList<pid_t> flockHolders(QByteArrayView procLocks, dev_t device, ino_t inode)
{
    // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; a waiter's line has "->" after the number.
    const QByteArray file = QByteArray::number(major(device), 16).rightJustified(2, '0') + ':'
        + QByteArray::number(minor(device), 16).rightJustified(2, '0') + ':' + QByteArray::number(quint64(inode));
    QList<pid_t> pids;
    for (const QByteArray &line : procLocks.toByteArray().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields[1] != "FLOCK" || fields[5] != file)
            continue;
        bool ok = false;
        const pid_t pid = fields[4].toInt(&ok);
        if (ok && pid > 0)
            pids << pid;
    }
    return pids;
}

ToolLock::ToolLock(QString path)
    : m_path(std::move(path))
{
}

ToolLock::~ToolLock()
{
    release();
}

QString ToolLock::defaultPath()
{
    return machinePlace().path;
}

QString ToolLock::defaultPathProblem()
{
    return machinePlace().problem;
}

ToolLock::Result ToolLock::tryLock(int operation)
{
    m_error.clear();
    m_busyFile.reset();
    if (m_fd >= 0) // held already: flock() converts the lock in place
        return ::flock(m_fd, operation | LOCK_NB) == 0 ? Result::Taken : Result::Busy;
    if (m_path.isEmpty()) {
        m_error = defaultPathProblem();
        return Result::Failed;
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        QString problem;
        const int fd = openLockFile(m_path, &problem);
        if (fd < 0) {
            m_error = withoutControlCharacters(m_path) + problem;
            return Result::Failed;
        }
        int rc;
        do
            rc = ::flock(fd, operation | LOCK_NB);
        while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            const int error = errno;
            struct stat st;
            if (error == EWOULDBLOCK && ::fstat(fd, &st) == 0)
                m_busyFile = {st.st_dev, st.st_ino};
            else if (error != EWOULDBLOCK)
                m_error = withoutControlCharacters(m_path) + QStringLiteral(": ") + systemReason(error);
            ::close(fd);
            return error == EWOULDBLOCK ? Result::Busy : Result::Failed;
        }
        if (stillAtPath(fd, m_path)) {
            m_fd = fd;
            return Result::Taken;
        }
        ::close(fd);
    }
    m_error = withoutControlCharacters(m_path) + QStringLiteral(" keeps being replaced");
    return Result::Failed;
}

QString ToolLock::holder() const
{
    return m_busyFile ? lockHolder(m_busyFile->first, m_busyFile->second) : QString();
}

ToolLock::Result ToolLock::tryExclusive()
{
    return tryLock(LOCK_EX);
}

ToolLock::Result ToolLock::tryShared()
{
    return tryLock(LOCK_SH);
}

// Closing gives the lock back unless a tool still holds the descriptor; an
// explicit unlock first ends it for every holder, so a process the tool left
// behind cannot keep the dock from the next upgrade once the run is over.
void ToolLock::release()
{
    if (m_fd < 0)
        return;
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}
