#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>

// Keeps the machine from suspending or shutting down while a flash runs, by
// holding a logind inhibitor lock. Asking logind never blocks the caller, not
// even on a system bus that accepts a connection and never answers; a machine
// without a system bus or logind just goes without the lock.
class SleepInhibitor : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SleepInhibitor() override;

    // Asks for the lock. settled() follows once logind has answered, or once
    // `patience` has passed without an answer; a lock granted later is still
    // taken while it is wanted.
    void acquire(std::chrono::milliseconds patience = std::chrono::seconds(2));
    // Gives the lock back, also one whose grant is still on its way.
    void release();
    bool isHeld() const { return m_lock >= 0; }
    // The lock's descriptor while held: logind keeps the lock while any copy
    // of it is open, so a tool given one keeps the machine awake to its end.
    int descriptor() const { return m_lock; }
    bool isSettled() const { return m_settled; }

    // Whether a connection to the system bus is still being made. A bus that
    // never answers holds one of Qt's threads for good, and Qt waits for that
    // thread as the process ends: the process must then end without it.
    static bool busConnectionPending();

signals:
    // logind answered a request, granting the lock or not.
    void answered();
    // Answered, or waited for long enough.
    void settled();

private:
    friend struct SystemBus;
    void busReady(bool connected, const QString &error);
    void ask();
    void settle();

    int m_lock = -1; // logind keeps the lock while this descriptor is open
    bool m_wanted = false;
    bool m_asking = false;
    bool m_settled = false;
    QTimer m_patience;
};
