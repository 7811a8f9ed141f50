#pragma once

#include <QString>

#include <optional>
#include <vector>

// What a scan needs to know of one connected USB device.
struct UsbDeviceFacts {
    quint16 vendorId = 0;  // 0 when absent or unreadable
    quint16 productId = 0; // 0 when absent or unreadable
    std::optional<QString> vendorName;
    std::optional<QString> productName;
    QString syspath; // set for docks
    // The kernel numbers each device anew as it is plugged in: with the
    // path, they tell one plug-in of a dock from the next. Set for docks.
    int busnum = 0;
    int devnum = 0;
    QString serial{}; // set for docks that have one
};

// The result of one enumeration: the devices in a stable order, or the log
// line that says why there are none to give.
struct UsbEnumeration {
    std::vector<UsbDeviceFacts> devices;
    QString failure; // empty on success
    bool ok() const { return failure.isEmpty(); }
};

// The machine's registry of USB devices.
class UsbDeviceSource {
public:
    virtual ~UsbDeviceSource() = default;
    virtual UsbEnumeration enumerate() = 0;
};
