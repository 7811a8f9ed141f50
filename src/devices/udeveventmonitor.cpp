#include "devices/udeveventmonitor.h"

#include "devices/devicelist.h"

#include <QSocketNotifier>

#include <libudev.h>

#include <cerrno>
#include <cstring>

void UdevEventMonitor::Deleter::operator()(udev *p) const
{
    udev_unref(p);
}

void UdevEventMonitor::Deleter::operator()(udev_monitor *p) const
{
    udev_monitor_unref(p);
}

namespace {
QString failed(const char *call, int error)
{
    return QStringLiteral("%1 failed: %2").arg(QLatin1StringView(call), QString::fromLocal8Bit(std::strerror(error)));
}
} // namespace

UdevEventMonitor::UdevEventMonitor(QObject *parent)
    : QObject(parent)
    , m_udev(udev_new())
{
    if (!m_udev) {
        m_failure = failed("udev_new", errno);
        return;
    }
    // "udev", not "kernel": the kernel announces a device before udev has
    // given the user access to it.
    m_monitor.reset(udev_monitor_new_from_netlink(m_udev.get(), "udev"));
    if (!m_monitor) {
        m_failure = failed("udev_monitor_new_from_netlink", errno);
        return;
    }
    // Interfaces and every other subsystem are dropped in the kernel, so
    // they never wake this process.
    if (const int r = udev_monitor_filter_add_match_subsystem_devtype(m_monitor.get(), "usb", "usb_device"); r < 0) {
        m_failure = failed("udev_monitor_filter_add_match_subsystem_devtype", -r);
        return;
    }
    if (const int r = udev_monitor_enable_receiving(m_monitor.get()); r < 0) {
        m_failure = failed("udev_monitor_enable_receiving", -r);
        return;
    }
    const int fd = udev_monitor_get_fd(m_monitor.get());
    if (fd < 0) {
        m_failure = failed("udev_monitor_get_fd", -fd);
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &UdevEventMonitor::readEvents);
}

UdevEventMonitor::~UdevEventMonitor()
{
    m_notifier.reset(); // before the socket it watches closes
}

void UeventBatch::add(const char *subsystem, const char *devtype, const char *action, const char *product)
{
    if (qstrcmp(subsystem, "usb") != 0 || qstrcmp(devtype, "usb_device") != 0)
        return;
    changed = true;
    if (qstrcmp(action, "remove") != 0)
        return;
    const QList<QByteArray> ids = QByteArray(product).split('/');
    UsbDeviceFacts device;
    device.vendorId = parseUsbId(ids.value(0));
    device.productId = parseUsbId(ids.value(1));
    dockRemoved = dockRemoved || isDock(device) || device.vendorId == 0 || device.productId == 0;
}

void UeventBatch::lost()
{
    changed = dockRemoved = true;
}

void UdevEventMonitor::readEvents()
{
    // The socket does not block. A bounded batch keeps a flood of events from
    // holding the thread; what is left wakes the notifier again.
    UeventBatch batch;
    for (int i = 0; i < 256; ++i) {
        errno = 0;
        udev_device *device = udev_monitor_receive_device(m_monitor.get());
        if (!device) {
            if (errno == ENOBUFS)
                batch.lost();
            break;
        }
        batch.add(udev_device_get_subsystem(device), udev_device_get_devtype(device), udev_device_get_action(device),
                  udev_device_get_property_value(device, "PRODUCT"));
        udev_device_unref(device);
    }
    if (batch.changed)
        emit devicesChanged(batch.dockRemoved);
}
