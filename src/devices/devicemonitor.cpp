#include "devices/devicemonitor.h"

#include "core/log.h"
#include "devices/devicelist.h"
#include "devices/udeveventmonitor.h"

#include <QTimer>

#include <algorithm>

DeviceMonitor::DeviceMonitor(std::unique_ptr<UsbDeviceSource> source, VersionQuery query, QObject *parent)
    : QObject(parent)
    , m_source(std::move(source))
    , m_query(std::move(query))
{
}

DeviceMonitor::~DeviceMonitor() = default;

// The timer runs before the first scan: that scan may wait for a version
// query, and the list must keep following the docks meanwhile.
void DeviceMonitor::startUSBMonitoring()
{
    usbMonitorTimer = std::make_unique<QTimer>();
    usbMonitorTimer->setInterval(m_tickInterval);
    connect(usbMonitorTimer.get(), &QTimer::timeout, this, [this] {
        if (!m_frozen || !m_frozen()) {
            forgetRemovedDocks();
            requestScan();
        }
    });
    usbMonitorTimer->start();
    scanUSBDevices();
}

void DeviceMonitor::setEventMonitor(std::unique_ptr<UdevEventMonitor> events)
{
    m_events.reset();
    if (!events)
        return;
    if (!events->isActive()) {
        logLine(QStringLiteral("No USB hotplug events (%1); looking for docks every second").arg(events->failure()));
        return;
    }
    m_events = std::move(events);
    connect(m_events.get(), &UdevEventMonitor::devicesChanged, this, &DeviceMonitor::devicesEvent);
}

// A burst of events costs one scan. While the list is frozen, a dock's unplug
// is kept for the first tick after.
void DeviceMonitor::devicesEvent(bool dockRemoved)
{
    m_removalPending = m_removalPending || dockRemoved;
    if (!usbMonitorTimer || (m_frozen && m_frozen()))
        return;
    forgetRemovedDocks();
    requestScan();
}

// An unplugged dock leaves the list at once, before any scan: one plugged back
// meanwhile (the same or another of the model) is then new, and its version is
// read again instead of carried over.
void DeviceMonitor::forgetRemovedDocks()
{
    if (!m_removalPending)
        return;
    m_removalPending = false;
    ++m_timesEmptied;
    fwQueried = false;
    if (!data.isEmpty()) {
        data.clear();
        emit devicesChanged();
    }
}

void DeviceMonitor::stopUSBMonitoring()
{
    usbMonitorTimer.reset();
}

// The scan runs after the caller has returned: a version query waits inside
// its scan, and the timer only fires again once its handler is done, so ticks
// keep coming during the query and their scans run nested in its wait.
void DeviceMonitor::requestScan()
{
    if (m_scanQueued)
        return;
    m_scanQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_scanQueued = false;
            if (usbMonitorTimer)
                scanUSBDevices();
        },
        Qt::QueuedConnection);
}

void DeviceMonitor::scanUSBDevices()
{
    const UsbEnumeration found = m_source->enumerate();
    if (!found.ok()) {
        logLine(found.failure);
        return;
    }
    const DeviceList scanned = buildDeviceList(found.devices, data);
    data = scanned;
    emit devicesChanged();
    runVersionStep(scanned);
}

// Reads the firmware version once each time docks appear after a scan that
// listed none. The query waits in a nested event loop where monitoring ticks
// still fire, so scans may run inside it: the flag, set first, keeps them from
// starting a second query, and the result goes into whatever list is current
// when the query returns. If a dock it asked about went meanwhile, the result
// may belong to none of those listed now: it is dropped and they get a query
// of their own, after this one, never beside it.
void DeviceMonitor::runVersionStep(const DeviceList &scanned)
{
    if (scanned.isEmpty()) {
        ++m_timesEmptied;
        fwQueried = false;
        return;
    }
    if (fwQueried || m_queryRunning || (m_queryAllowed && !m_queryAllowed()))
        return;
    fwQueried = true;
    const quint64 emptiedBefore = m_timesEmptied;
    m_queryRunning = true;
    const std::optional<QString> version = m_query();
    m_queryRunning = false;
    emit versionQueryEnded();
    // A dock asked about went while the tool ran (unplugged, or swapped for
    // another between two ticks): the answer may be the old dock's, so none
    // of those listed now is given it.
    const bool askedStillListed = std::all_of(scanned.begin(), scanned.end(), [&](const DeviceRecord &asked) {
        return std::any_of(data.begin(), data.end(), [&](const DeviceRecord &now) { return sameDevice(now, asked); });
    });
    if (m_timesEmptied != emptiedBefore || !askedStillListed) {
        fwQueried = false;
        requestScan();
        return;
    }
    // Asked again meanwhile (the user, or the tool's arrival): once more, now.
    if (!fwQueried)
        requestScan();
    if (version && !version->isEmpty()) {
        for (DeviceRecord &record : data)
            record.fwversion = *version;
        emit devicesChanged();
    }
    emit versionRead(version.value_or(QString()));
}

void DeviceMonitor::readVersionAgain()
{
    if (data.isEmpty())
        return;
    fwQueried = false;
    requestScan();
}

DeviceList DeviceMonitor::lookAgain()
{
    const UsbEnumeration found = m_source->enumerate();
    requestScan();
    if (!found.ok()) {
        logLine(found.failure);
        return {};
    }
    return buildDeviceList(found.devices, data);
}
