#pragma once

#include "devices/devicerecord.h"
#include "devices/usbdevicesource.h"

#include <QByteArrayView>

// Reads a sysfs USB ID ("21c4"): hexadecimal digits only, at most 16 bits.
// Anything else, the empty text included, gives 0.
quint16 parseUsbId(QByteArrayView text);

// "0x%04X".
QString formatUsbId(quint16 id);

bool isDock(const UsbDeviceFacts &device);

// The docks among the devices, in their order, each carrying over the version
// of the first record of the previous list with the same vendor and product.
DeviceList buildDeviceList(const std::vector<UsbDeviceFacts> &devices, const DeviceList &previous);
