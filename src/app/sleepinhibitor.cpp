#include "app/sleepinhibitor.h"

#include "core/log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

#include <fcntl.h>
#include <unistd.h>

namespace {
const QString Failed = QStringLiteral("[Upgrade] Could not block sleep and shutdown: ");
}

SleepInhibitor::~SleepInhibitor()
{
    release();
}

void SleepInhibitor::acquire()
{
    m_wanted = true;
    if (m_asking || isHeld())
        return;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        logLine(Failed + bus.lastError().message());
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                                       QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:shutdown") << QStringLiteral("Quorvale") << QStringLiteral("Firmware update in progress")
         << QStringLiteral("block");
    m_asking = true;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        m_asking = false;
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
        if (reply.isError()) {
            logLine(Failed + reply.error().message());
        } else if (const int lock = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0); lock < 0) {
            logLine(Failed + QStringLiteral("no lock descriptor"));
        } else if (!m_wanted) {
            ::close(lock); // the flash ended before logind answered
        } else {
            m_lock = lock;
            logLine(QStringLiteral("[Upgrade] Sleep and shutdown blocked while the firmware tool runs"));
        }
        emit answered();
    });
}

void SleepInhibitor::release()
{
    m_wanted = false;
    if (m_lock >= 0) {
        ::close(m_lock);
        m_lock = -1;
    }
}
