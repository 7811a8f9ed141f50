#pragma once

#include <QObject>
#include <QString>

#include <memory>

struct udev;
struct udev_monitor;
class QSocketNotifier;

// What one read of udev's events amounts to.
struct UeventBatch {
    bool changed = false;     // a USB device came, went or changed
    bool dockRemoved = false; // a dock went, or may have

    // One event. A removal counts as a dock's when the event's PRODUCT
    // ("21c4/b070/103") names the dock's IDs, or names none: only then is the
    // version read again. Every other device costs a scan at most.
    void add(const char *subsystem, const char *devtype, const char *action, const char *product);
    // Events were lost (the socket's buffer overflowed): a dock may have gone.
    void lost();
};

// Tells the moment a USB device is plugged, unplugged or changed, from udev's
// own events: they come after udev's rules have run, so a dock announced here
// is already open to the user. A burst of events (a hub with several devices)
// is read in one go and makes one signal. Where no monitor can be made, the
// object stays inactive and says why; the caller goes on checking by itself.
class UdevEventMonitor : public QObject {
    Q_OBJECT
public:
    explicit UdevEventMonitor(QObject *parent = nullptr);
    ~UdevEventMonitor() override;

    bool isActive() const { return m_notifier != nullptr; }
    // Why there is no monitor, for one log line; empty while active.
    const QString &failure() const { return m_failure; }

signals:
    // dockRemoved: one of the events was a dock's unplug, or events were
    // lost and one may have been.
    void devicesChanged(bool dockRemoved);

private:
    void readEvents();

    struct Deleter {
        void operator()(udev *p) const;
        void operator()(udev_monitor *p) const;
    };
    std::unique_ptr<udev, Deleter> m_udev;
    std::unique_ptr<udev_monitor, Deleter> m_monitor;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QString m_failure;
};
