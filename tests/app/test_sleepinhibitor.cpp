#include "flash/flashjob.h"
#include "flash/sleepinhibitor.h"
#include "guitest.h"
#include "logcapture.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

namespace {

// logind as far as the lock goes: Inhibit hands out the write end of a pipe,
// so the test sees the lock given back when the read end reaches its end.
// With `answerLate` set it keeps the call waiting until answer(). It has a
// connection of its own, so that calls reach it over the bus as logind's do.
class FakeLogind : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    ~FakeLogind() override { QDBusConnection::disconnectFromBus(m_bus.name()); }
    bool serve()
    {
        return m_bus.registerService(QStringLiteral("org.freedesktop.login1"))
            && m_bus.registerObject(QStringLiteral("/org/freedesktop/login1"), this, QDBusConnection::ExportAllSlots);
    }

    QStringList arguments;
    int lockReadEnd = -1;
    bool answerLate = false;
    QDBusMessage waiting;

    bool lockReleased() const
    {
        pollfd p{lockReadEnd, POLLIN, 0};
        char byte;
        return ::poll(&p, 1, 0) == 1 && ::read(lockReadEnd, &byte, 1) == 0;
    }
    void answer() { m_bus.send(waiting.createReply(QVariant::fromValue(newLock()))); }

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &who, const QString &why, const QString &mode)
    {
        arguments = {what, who, why, mode};
        if (answerLate) {
            setDelayedReply(true);
            waiting = message();
            return {};
        }
        return newLock();
    }

private:
    QDBusConnection m_bus = QDBusConnection::connectToBus(QDBusConnection::SystemBus, QStringLiteral("fake-logind"));
    QDBusUnixFileDescriptor newLock()
    {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return {};
        lockReadEnd = ends[0];
        const QDBusUnixFileDescriptor lock(ends[1]); // keeps a copy of its own
        ::close(ends[1]);
        return lock;
    }
};

// Runs where DBUS_SYSTEM_BUS_ADDRESS names a private bus (see CMakeLists.txt).
TEST(SleepInhibitor, HoldsLogindsLockUntilReleased)
{
    FakeLogind logind;
    QDBusConnection bus = QDBusConnection::systemBus();
    ASSERT_TRUE(bus.isConnected());
    SleepInhibitor inhibitor;
    LogCapture log;
    inhibitor.acquire(); // no logind yet: one line, no lock
    ASSERT_TRUE(serveUntil([&] { return inhibitor.isSettled(); }));
    EXPECT_EQ(log.texts().size(), 1);
    EXPECT_TRUE(log.texts().first().startsWith(QLatin1String("[Upgrade] Could not block sleep and shutdown: ")));
    EXPECT_FALSE(inhibitor.isHeld());

    ASSERT_TRUE(logind.serve());
    inhibitor.acquire();
    ASSERT_TRUE(serveUntil([&] { return inhibitor.isHeld(); }));
    EXPECT_TRUE(inhibitor.isSettled());
    EXPECT_EQ(logind.arguments,
              (QStringList{"sleep:shutdown", "Quorvale", "Firmware update in progress", "block"}));
    EXPECT_EQ(log.texts().last(), QStringLiteral("[Upgrade] Sleep and shutdown blocked while the firmware tool runs"));
    EXPECT_FALSE(logind.lockReleased());
    inhibitor.release();
    EXPECT_TRUE(serveUntil([&] { return logind.lockReleased(); }, 2000)); // the bus lets its copies go in its own time

    // Released before logind answered: the lock is given back as it arrives.
    bool answered = false;
    QObject::connect(&inhibitor, &SleepInhibitor::answered, [&] { answered = true; });
    inhibitor.acquire();
    inhibitor.release();
    ASSERT_TRUE(serveUntil([&] { return answered; }));
    EXPECT_FALSE(inhibitor.isHeld());
    EXPECT_TRUE(serveUntil([&] { return logind.lockReleased(); }, 2000)); // the bus lets its copies go in its own time

    // A logind slow to answer is waited for no longer than the patience; its
    // lock, when it comes, is still taken while wanted.
    logind.answerLate = true;
    QElapsedTimer waited;
    waited.start();
    inhibitor.acquire(std::chrono::milliseconds(300));
    ASSERT_TRUE(serveUntil([&] { return inhibitor.isSettled(); }));
    EXPECT_GE(waited.elapsed(), 280);
    EXPECT_LT(waited.elapsed(), 2000);
    EXPECT_EQ(log.texts().last(), QStringLiteral("[Upgrade] No answer about blocking sleep and shutdown within 300 ms; going on without it"));
    EXPECT_FALSE(inhibitor.isHeld());
    logind.answer();
    ASSERT_TRUE(serveUntil([&] { return inhibitor.isHeld(); }));
    inhibitor.release();
    EXPECT_TRUE(serveUntil([&] { return logind.lockReleased(); }, 2000)); // the bus lets its copies go in its own time
}

// A whole upgrade: logind's lock is held while the tool flashes and given
// back as the run ends, also while whoever started it keeps the job.
TEST(SleepInhibitor, UpgradeHoldsTheLockForTheFlashOnly)
{
    FakeLogind logind;
    ASSERT_TRUE(logind.serve());
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("dock.bin"));
    ASSERT_EQ(QProcess::execute(QStringLiteral(MAKE_FIRMWARE_IMAGE_PATH), {"--version", "2.1.0", "--out", image}), 0);
    qputenv("TALVEX_SIM_PACE_MS", "30");
    qputenv("TALVEX_SIM_STATE", dir.filePath(QStringLiteral("state")).toLocal8Bit());
    const DeviceList docks{{QStringLiteral("Talvex"), QStringLiteral("TD-70"), QStringLiteral("1.0.3"),
                            QStringLiteral("/sys/bus/usb/devices/1-2"), 1, 3}};
    FlashSetup setup;
    setup.tools = {QFileInfo(QStringLiteral(TALVEX_SIMULATOR_PATH)).path(), {}};
    setup.docks = {[&] { return docks; }, [&] { return docks; }};
    setup.lockPath = dir.filePath(QStringLiteral("tool.lock"));
    setup.imageDirectory = setup.logDirectory = dir.path();
    FlashJob job(setup, docks.first(), image, std::chrono::seconds(600));
    bool heldWhenStarted = false;
    QObject::connect(&job, &FlashJob::toolStarting, [&] { heldWhenStarted = logind.lockReadEnd >= 0 && !logind.lockReleased(); });
    ASSERT_TRUE(job.start());
    ASSERT_TRUE(serveUntil([&] { return job.isFinished(); }, 15000));
    EXPECT_TRUE(heldWhenStarted);
    EXPECT_TRUE(job.outcome().success);
    EXPECT_TRUE(serveUntil([&] { return logind.lockReleased(); }, 2000)); // the bus lets its copies go in its own time
}

} // namespace

#include "test_sleepinhibitor.moc"
