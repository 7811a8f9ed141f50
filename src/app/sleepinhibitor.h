#pragma once

#include <QObject>

// Keeps the machine from suspending or shutting down while a flash runs, by
// holding a logind inhibitor lock. Asking logind never blocks the caller; a
// machine without a system bus or logind just goes without the lock.
class SleepInhibitor : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SleepInhibitor() override;

    void acquire();
    // Gives the lock back, also one whose grant is still on its way.
    void release();
    bool isHeld() const { return m_lock >= 0; }

signals:
    // logind answered a request, granting the lock or not.
    void answered();

private:
    int m_lock = -1; // logind keeps the lock while this descriptor is open
    bool m_wanted = false;
    bool m_asking = false;
};
