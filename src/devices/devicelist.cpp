#include "devices/devicelist.h"

#include "core/printable.h"

#include <algorithm>

quint16 parseUsbId(QByteArrayView text)
{
    text = text.trimmed();
    if (text.isEmpty())
        return 0;
    unsigned value = 0;
    for (const char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return 0;
        value = value * 16 + unsigned(digit);
        if (value > 0xFFFF)
            return 0;
    }
    return quint16(value);
}

QString deviceNameFromSysfs(QByteArrayView raw)
{
    if (raw.endsWith('\n'))
        raw.chop(1);
    return withoutControlCharacters(QString::fromUtf8(raw));
}

QString formatUsbId(quint16 id)
{
    return QLatin1String("0x") + QString::number(id, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

bool isDock(const UsbDeviceFacts &device)
{
    return device.vendorId == DockVendorId && device.productId == DockProductId;
}

static QString carriedVersion(const DeviceList &previous, const QString &vendor, const QString &product)
{
    for (const DeviceRecord &old : previous) {
        if (old.vendor == vendor && old.product == product)
            return old.fwversion;
    }
    return QString::fromLatin1(VersionUnknown);
}

DeviceList buildDeviceList(const std::vector<UsbDeviceFacts> &devices, const DeviceList &previous)
{
    DeviceList list;
    for (const UsbDeviceFacts &device : devices) {
        if (!isDock(device))
            continue;
        DeviceRecord record;
        record.vendor = device.vendorName.value_or(formatUsbId(device.vendorId));
        record.product = device.productName.value_or(formatUsbId(device.productId));
        record.fwversion = carriedVersion(previous, record.vendor, record.product);
        record.syspath = device.syspath;
        record.busnum = device.busnum;
        record.devnum = device.devnum;
        record.serial = device.serial;
        list.append(std::move(record));
    }
    return list;
}

bool sameDevice(const DeviceRecord &a, const DeviceRecord &b)
{
    return a.syspath == b.syspath && a.busnum == b.busnum && a.devnum == b.devnum;
}

DockChoice chooseDock(const DeviceList &docks, const DeviceRecord &chosen)
{
    if (std::none_of(docks.begin(), docks.end(), [&](const DeviceRecord &dock) { return sameDevice(dock, chosen); }))
        return DockChoice::Gone;
    return docks.size() == 1 ? DockChoice::Alone : DockChoice::NotAlone;
}
