#pragma once

#include "devices/devicerecord.h"
#include "devices/usbdevicesource.h"

#include <QByteArrayView>

// Reads a sysfs USB ID ("21c4"): hexadecimal digits only, at most 16 bits.
// Anything else, the empty text included, gives 0.
quint16 parseUsbId(QByteArrayView text);

// A device name as read from a sysfs attribute file: the one trailing newline
// that sysfs adds is dropped, the bytes are decoded as UTF-8 and every control
// character (C0, DEL, C1) becomes U+FFFD. A device chooses its own names, and
// they reach the table, the clipboard and the log.
QString deviceNameFromSysfs(QByteArrayView raw);

// "0x%04X".
QString formatUsbId(quint16 id);

bool isDock(const UsbDeviceFacts &device);

// The docks among the devices, in their order, each carrying over the version
// of the first record of the previous list with the same vendor and product.
DeviceList buildDeviceList(const std::vector<UsbDeviceFacts> &devices, const DeviceList &previous);

// Whether two records are the same plug-in of the same device.
bool sameDevice(const DeviceRecord &a, const DeviceRecord &b);

// Whether a dock chosen for an upgrade may be flashed, judged on a list of
// the docks connected now: the firmware tool picks a dock by its USB IDs
// alone, so with two docks it could flash the other one.
enum class DockChoice { Alone, Gone, NotAlone };
DockChoice chooseDock(const DeviceList &docks, const DeviceRecord &chosen);
