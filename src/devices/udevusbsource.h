#pragma once

#include "devices/usbdevicesource.h"

// USB devices from libudev: subsystem "usb", DEVTYPE=usb_device, in udev's order.
class UdevUsbSource : public UsbDeviceSource {
public:
    UsbEnumeration enumerate() override;
};
