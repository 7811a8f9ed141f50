#pragma once

#include "devices/usbdevicesource.h"

#include <QByteArray>

#include <map>

// USB devices as the kernel and udev describe them. Every device's IDs are
// read straight from its sysfs files, which is all a non-dock needs and keeps
// the once-a-second scan cheap; a dock is then looked at through libudev,
// which confirms it is a whole device (not one of its interfaces), once for
// as long as it stays listed; its names are read from their files at every
// scan, bounded, and made safe to show. Devices come in the order of their
// sysfs names.
class UdevUsbSource : public UsbDeviceSource {
public:
    explicit UdevUsbSource(QByteArray sysfsRoot = "/sys");
    UsbEnumeration enumerate() override;

private:
    QByteArray m_devicesDir;
    // libudev's verdict, whole device or not, on the docks the last scan listed.
    std::map<QByteArray, bool> m_wholeDevices;
};
