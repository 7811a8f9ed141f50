#include "flash/sleepinhibitor.h"

#include "core/log.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QPointer>
#include <QThread>

#include <atomic>

#include <fcntl.h>
#include <unistd.h>

namespace {
const QString Failed = QStringLiteral("[Upgrade] Could not block sleep and shutdown: ");
} // namespace

// Qt connects to the system bus inside the first systemBus() call and waits
// for the bus's answer without a time limit. That wait happens on a thread of
// its own here; the main thread only hears how it ended.
struct SystemBus {
    enum State { Unknown, Connecting, Connected };
    static inline std::atomic<State> state{Unknown};
    static inline QList<QPointer<SleepInhibitor>> waiting; // main thread only

    static void connect(SleepInhibitor *asking)
    {
        waiting << asking;
        if (state != Unknown)
            return;
        state = Connecting;
        QThread *thread = QThread::create([] {
            QDBusConnection bus = QDBusConnection::systemBus();
            const bool connected = bus.isConnected();
            const QString error = connected ? QString() : bus.lastError().message();
            state = connected ? Connected : Unknown; // not connected: the next request tries again
            if (QCoreApplication *application = QCoreApplication::instance())
                QMetaObject::invokeMethod(application, [connected, error] {
                    for (const QPointer<SleepInhibitor> &inhibitor : std::exchange(waiting, {}))
                        if (inhibitor)
                            inhibitor->busReady(connected, error);
                }, Qt::QueuedConnection);
        });
        QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        thread->start();
    }
};

bool SleepInhibitor::busConnectionPending()
{
    return SystemBus::state == SystemBus::Connecting;
}

SleepInhibitor::~SleepInhibitor()
{
    release();
}

void SleepInhibitor::acquire(std::chrono::milliseconds patience)
{
    m_wanted = true;
    m_settled = false;
    m_patience.disconnect();
    m_patience.setSingleShot(true);
    connect(&m_patience, &QTimer::timeout, this, [this] {
        logLine(QStringLiteral("[Upgrade] No answer about blocking sleep and shutdown within %1 ms; going on without it")
                    .arg(m_patience.interval()));
        settle();
    });
    m_patience.start(patience);
    if (isHeld())
        settle();
    else if (!m_asking)
        ask();
}

void SleepInhibitor::ask()
{
    m_asking = true;
    if (SystemBus::state != SystemBus::Connected) {
        SystemBus::connect(this);
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                                       QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:shutdown") << QStringLiteral("Quorvale") << QStringLiteral("Firmware update in progress")
         << QStringLiteral("block");
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call), this);
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
        settle();
    });
}

void SleepInhibitor::busReady(bool connected, const QString &error)
{
    if (connected) {
        ask();
        return;
    }
    m_asking = false;
    logLine(Failed + error);
    emit answered();
    settle();
}

void SleepInhibitor::settle()
{
    m_patience.stop();
    if (m_settled || !m_wanted)
        return;
    m_settled = true;
    emit settled();
}

void SleepInhibitor::release()
{
    m_wanted = false;
    m_patience.stop();
    if (m_lock >= 0) {
        ::close(m_lock);
        m_lock = -1;
    }
}
