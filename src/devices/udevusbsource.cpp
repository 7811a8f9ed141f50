#include "devices/udevusbsource.h"

#include "devices/devicelist.h"

#include <libudev.h>

#include <memory>

namespace {
struct UdevDeleter {
    void operator()(udev *p) const { udev_unref(p); }
    void operator()(udev_enumerate *p) const { udev_enumerate_unref(p); }
    void operator()(udev_device *p) const { udev_device_unref(p); }
};
template<typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

std::optional<QString> textAttribute(udev_device *device, const char *name)
{
    const char *value = udev_device_get_sysattr_value(device, name);
    if (!value)
        return std::nullopt;
    return QString::fromUtf8(value);
}

quint16 idAttribute(udev_device *device, const char *name)
{
    const char *value = udev_device_get_sysattr_value(device, name);
    return value ? parseUsbId(QByteArrayView(value)) : 0;
}
} // namespace

UsbEnumeration UdevUsbSource::enumerate()
{
    UsbEnumeration result;
    UdevPtr<udev> context(udev_new());
    UdevPtr<udev_enumerate> enumeration(context ? udev_enumerate_new(context.get()) : nullptr);
    if (!enumeration || udev_enumerate_add_match_subsystem(enumeration.get(), "usb") < 0
        || udev_enumerate_add_match_property(enumeration.get(), "DEVTYPE", "usb_device") < 0) {
        result.failure = QStringLiteral("IOServiceMatching failed");
        return result;
    }
    const int status = udev_enumerate_scan_devices(enumeration.get());
    if (status < 0) {
        result.failure = QStringLiteral("IOServiceGetMatchingServices failed: %1").arg(quint32(status), 0, 16);
        return result;
    }

    udev_list_entry *entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get()))
    {
        UdevPtr<udev_device> device(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (!device)
            continue; // unplugged since the enumeration
        UsbDeviceFacts facts;
        facts.vendorId = idAttribute(device.get(), "idVendor");
        facts.productId = idAttribute(device.get(), "idProduct");
        facts.vendorName = textAttribute(device.get(), "manufacturer");
        facts.productName = textAttribute(device.get(), "product");
        result.devices.push_back(std::move(facts));
    }
    return result;
}
