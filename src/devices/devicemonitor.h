#pragma once

#include "devices/devicerecord.h"
#include "devices/usbdevicesource.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QTimer;
class UdevEventMonitor;

// Keeps the list of connected docks current: a scan at every tick of the
// monitoring timer and at each burst of udev's events, and the docks' firmware
// version read once each time docks appear. Lives on the main thread.
class DeviceMonitor : public QObject {
    Q_OBJECT
public:
    // Runs the firmware tool and returns the version it reports.
    using VersionQuery = std::function<std::optional<QString>()>;
    using Condition = std::function<bool()>;

    DeviceMonitor(std::unique_ptr<UsbDeviceSource> source, VersionQuery query, QObject *parent = nullptr);
    ~DeviceMonitor() override;

    // While this holds, ticks do not scan (an application-modal alert or a
    // menu is open and the list must stay as the user sees it).
    void setFrozen(Condition frozen) { m_frozen = std::move(frozen); }
    // Asked right before a version query; false leaves the version unread
    // for a later scan (the tool is busy flashing a dock). What it takes for
    // the query is given back at versionQueryEnded().
    void setQueryAllowed(Condition allowed) { m_queryAllowed = std::move(allowed); }
    void setTickInterval(std::chrono::milliseconds interval) { m_tickInterval = interval; }
    // Docks are seen the moment udev announces them, not at the next tick.
    // An inactive monitor is logged once and dropped: the tick carries on alone.
    void setEventMonitor(std::unique_ptr<UdevEventMonitor> events);

    void startUSBMonitoring();
    void stopUSBMonitoring();
    bool isMonitoring() const { return usbMonitorTimer != nullptr; }
    void scanUSBDevices();
    // Queues one scan; a request while one is queued adds nothing.
    void requestScan();
    // The next scan that lists docks reads their version again.
    void forgetVersion() { fwQueried = false; }
    // Reads the listed docks' version again, at once: asked by the user, or
    // when the firmware tool has just appeared. One query at a time still:
    // asked during a query, it reads once more after it.
    void readVersionAgain();

    const DeviceList &devices() const { return data; }
    bool versionQueried() const { return fwQueried; }
    // The docks connected now, from a fresh look at the USB devices rather
    // than the list of the last scan, which stays as it is while an alert is
    // open; a scan follows to bring the list up to date. Empty when the
    // devices cannot be read.
    DeviceList lookAgain();

signals:
    // The list was replaced or its versions written.
    void devicesChanged();
    void versionQueryEnded();
    // A query's answer that went into the list (empty when the tool gave
    // none); an answer dropped because its dock went is not one.
    void versionRead(const QString &version);

private:
    void runVersionStep(const DeviceList &scanned);
    void devicesEvent(bool dockRemoved);
    void forgetRemovedDocks();

    std::unique_ptr<UsbDeviceSource> m_source;
    const VersionQuery m_query;
    Condition m_frozen, m_queryAllowed;
    std::chrono::milliseconds m_tickInterval{1000};
    std::unique_ptr<QTimer> usbMonitorTimer;
    DeviceList data;
    bool fwQueried = false;
    bool m_scanQueued = false;
    std::unique_ptr<UdevEventMonitor> m_events;
    bool m_removalPending = false;
    bool m_queryRunning = false;
    quint64 m_timesEmptied = 0;
};
