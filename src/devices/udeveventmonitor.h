#pragma once

#include <QObject>
#include <QString>

#include <memory>

struct udev;
struct udev_monitor;
class QSocketNotifier;

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
    // removed: one of the events was an unplug, or events were lost and one
    // may have been.
    void devicesChanged(bool removed);

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
