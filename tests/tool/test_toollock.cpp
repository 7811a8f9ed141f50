#include "tool/toollock.h"

#include "tooltest.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {
using Result = ToolLock::Result;

// Each object opens the file on its own, as another copy of the program would.
TEST(ToolLock, UpgradeExcludesEveryoneQueriesShare)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tool.lock"));
    ToolLock upgrade(path), other(path), query(path);
    const mode_t mask = ::umask(077); // a user's umask does not keep other users out
    ASSERT_EQ(upgrade.tryExclusive(), Result::Taken);
    ::umask(mask);
    EXPECT_EQ(other.tryExclusive(), Result::Busy);
    EXPECT_EQ(query.tryShared(), Result::Busy);
    upgrade.release();
    ASSERT_EQ(query.tryShared(), Result::Taken);
    EXPECT_EQ(other.tryShared(), Result::Taken);
    EXPECT_EQ(upgrade.tryExclusive(), Result::Busy);
    query.release();
    other.release();
    EXPECT_EQ(upgrade.tryExclusive(), Result::Taken);
    // Every user's copy must be able to open a lock file that one user made.
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

// Who holds the lock is said only when another process does; a lock that
// cannot be taken at all says why, and never waits on what it opened.
TEST(ToolLock, NamesTheHolderOrTheReason)
{
    QTemporaryDir dir;
    const auto path = [&](const char *name) { return dir.filePath(QLatin1String(name)); };
    const mode_t mask = ::umask(077); // a new lock file is readable by all whatever the umask
    {
        QProcess holder;
        holder.start(QStringLiteral("flock"), {QStringLiteral("-x"), path("held.lock"), QStringLiteral("sleep"), QStringLiteral("5")});
        ASSERT_TRUE(holder.waitForStarted());
        ToolLock lock(path("held.lock"));
        Result result = Result::Taken;
        for (int i = 0; i < 100 && (result = lock.tryShared()) == Result::Taken; ++i)
            lock.release(), QThread::msleep(20);
        EXPECT_EQ(result, Result::Busy);
        EXPECT_EQ(lock.holder(), QStringLiteral("process %1 (flock)").arg(holder.processId()));
        EXPECT_TRUE(lock.error().isEmpty());
        holder.kill();
        holder.waitForFinished();
    }
    ::umask(mask);
    // The process that took the lock is gone; the one it left the lock to is named.
    ASSERT_EQ(QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"),
                                                       QStringLiteral("exec 9>\"$0\"; flock -x 9; sleep 3 & exit"),
                                                       path("orphan.lock")}), 0);
    ToolLock orphaned(path("orphan.lock"));
    EXPECT_EQ(orphaned.tryExclusive(), Result::Busy);
    QString holder = orphaned.holder();
    for (int i = 0; i < 100 && !holder.endsWith(QLatin1String("(sleep)")); ++i) // "(sh)" until the shell's child execs
        QThread::msleep(10), holder = orphaned.holder();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^process [0-9]+ \\(sleep\\)$")).match(holder).hasMatch())
        << holder.toStdString();

    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.lock")));
    ASSERT_TRUE(QFile::link(path("target"), path("link.lock")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("fifo.lock")).constData(), 0600), 0);
    const struct {
        const char *name, *reason;
    } refused[] = {
        {"link.lock", " is a symbolic link, which is never followed"},
        {"folder.lock", " is not a regular file"},
        {"fifo.lock", " is not a regular file"},
        {"none/tool.lock", ": No such file or directory"},
    };
    for (const auto &c : refused) {
        SCOPED_TRACE(c.name);
        ToolLock lock(path(c.name));
        EXPECT_EQ(lock.tryExclusive(), Result::Failed);
        EXPECT_EQ(lock.error(), path(c.name) + QLatin1String(c.reason));
        EXPECT_TRUE(lock.holder().isEmpty());
    }
    EXPECT_FALSE(QFileInfo::exists(path("target"))); // nothing made through the link
}

// One lock for the whole machine; a private runtime folder only where the
// machine's lock folder is missing, and never a folder others could write.
TEST(ToolLock, PlaceIsMachineWideOrPrivate)
{
    QTemporaryDir dir;
    const auto path = [&](const char *name) { return dir.filePath(QLatin1String(name)); };
    const bool root = ::geteuid() == 0;
    QDir(dir.path()).mkdir(QStringLiteral("machine"));
    ::chmod(QFile::encodeName(path("machine")).constData(), 01777);
    QDir(dir.path()).mkdir(QStringLiteral("shared"));
    ::chmod(QFile::encodeName(path("shared")).constData(), 0777);
    QFile::link(path("machine"), path("linked"));
    const struct {
        const char *name, *machine, *runtime, *lock; // lock: nullptr when refused
        bool note, needsRoot;
    } cases[] = {
        {"machine folder, whatever the runtime folder", "machine", "runtime-a", "machine", false, true},
        {"another runtime folder, the same lock", "machine", "runtime-b", "machine", false, true},
        {"no machine folder: a private runtime folder made", "none", "runtime-c", "runtime-c", true, false},
        {"runtime folder that others may write", "none", "shared", nullptr, false, false},
        {"runtime folder through a link", "none", "linked", nullptr, false, false},
        {"no runtime folder named", "none", "", nullptr, false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsRoot && !root)
            continue; // the machine folder must be root's
        const QString runtime = *c.runtime ? path(c.runtime) : QString();
        const ToolLockPlace place = toolLockPlace(path(c.machine), runtime);
        EXPECT_EQ(place.path, c.lock ? path(c.lock) + QStringLiteral("/quorvale-firmware-tool.lock") : QString());
        EXPECT_EQ(place.problem.isEmpty(), c.lock != nullptr) << place.problem.toStdString();
        EXPECT_EQ(place.note.isEmpty(), !c.note);
    }
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(path("runtime-c")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    if (root) { // a folder of another user's
        QDir(dir.path()).mkdir(QStringLiteral("theirs"));
        ASSERT_EQ(::chown(QFile::encodeName(path("theirs")).constData(), 65534, 65534), 0);
        ::chmod(QFile::encodeName(path("theirs")).constData(), 0700);
        EXPECT_TRUE(toolLockPlace(path("none"), path("theirs")).path.isEmpty());
    }
}

TEST(ToolLock, HoldersFromProcLocks)
{
    const QByteArray locks = "1: POSIX  ADVISORY  WRITE 700 fe:00:4242 0 EOF\n"
                             "2: FLOCK  ADVISORY  WRITE 701 fe:00:4242 0 EOF\n"
                             "2: -> FLOCK  ADVISORY  WRITE 702 fe:00:4242 0 EOF\n"
                             "3: FLOCK  ADVISORY  READ  703 fe:00:4243 0 EOF\n"
                             "4: FLOCK  ADVISORY  READ  704 fe:00:4242 0 EOF\n"
                             "5: FLOCK  ADVISORY  READ  705 08:01:4242 0 EOF\n";
    EXPECT_EQ(flockHolders(locks, makedev(0xfe, 0), 4242), (QList<pid_t>{701, 704}));
    EXPECT_EQ(flockHolders(locks, makedev(8, 1), 4242), QList<pid_t>{705});
}
} // namespace
