#include "app/sleepinhibitor.h"
#include "guitest.h"
#include "logcapture.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

namespace {

// logind as far as the lock goes: Inhibit hands out the write end of a pipe,
// so the test sees the lock given back when the read end reaches its end.
class FakeLogind : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    QStringList arguments;
    int lockReadEnd = -1;
    bool lockReleased() const
    {
        pollfd p{lockReadEnd, POLLIN, 0};
        char byte;
        return ::poll(&p, 1, 0) == 1 && ::read(lockReadEnd, &byte, 1) == 0;
    }

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &who, const QString &why, const QString &mode)
    {
        arguments = {what, who, why, mode};
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
    ASSERT_TRUE(serveUntil([&] { return log.texts().size() == 1; }));
    EXPECT_TRUE(log.texts().first().startsWith(QLatin1String("[Upgrade] Could not block sleep and shutdown: ")));
    EXPECT_FALSE(inhibitor.isHeld());

    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.login1")));
    ASSERT_TRUE(bus.registerObject(QStringLiteral("/org/freedesktop/login1"), &logind, QDBusConnection::ExportAllSlots));
    inhibitor.acquire();
    ASSERT_TRUE(serveUntil([&] { return inhibitor.isHeld(); }));
    EXPECT_EQ(logind.arguments,
              (QStringList{"sleep:shutdown", "Quorvale", "Firmware update in progress", "block"}));
    EXPECT_EQ(log.texts().last(), QStringLiteral("[Upgrade] Sleep and shutdown blocked while the firmware tool runs"));
    EXPECT_FALSE(logind.lockReleased());
    inhibitor.release();
    EXPECT_TRUE(logind.lockReleased());

    // Released before logind answered: the lock is given back as it arrives.
    bool answered = false;
    QObject::connect(&inhibitor, &SleepInhibitor::answered, [&] { answered = true; });
    inhibitor.acquire();
    inhibitor.release();
    ASSERT_TRUE(serveUntil([&] { return answered; }));
    EXPECT_FALSE(inhibitor.isHeld());
    EXPECT_TRUE(logind.lockReleased());
}

} // namespace

#include "test_sleepinhibitor.moc"
