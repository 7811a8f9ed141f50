#include "devices/devicemonitor.h"

#include "core/log.h"
#include "devices/devicelist.h"

#include <QTimer>

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
        if (!m_frozen || !m_frozen())
            requestScan();
    });
    usbMonitorTimer->start();
    scanUSBDevices();
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
// when the query returns.
void DeviceMonitor::runVersionStep(const DeviceList &scanned)
{
    if (scanned.isEmpty()) {
        fwQueried = false;
        return;
    }
    if (fwQueried || (m_queryAllowed && !m_queryAllowed()))
        return;
    fwQueried = true;
    const std::optional<QString> version = m_query();
    emit versionQueryEnded();
    if (!version || version->isEmpty())
        return;
    for (DeviceRecord &record : data)
        record.fwversion = *version;
    emit devicesChanged();
}

std::optional<DeviceRecord> DeviceMonitor::device(const QString &syspath) const
{
    for (const DeviceRecord &record : data) {
        if (record.syspath == syspath)
            return record;
    }
    return std::nullopt;
}
