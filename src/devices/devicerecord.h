#pragma once

#include <QList>
#include <QString>

// One row of the device table: a dock as the last scan saw it.
struct DeviceRecord {
    QString vendor;
    QString product;
    QString fwversion;
    // Which device this is, so that an action begun on one dock never lands
    // on another after the list changed: its sysfs path, and the bus and
    // device numbers the kernel gives each plug-in (another dock plugged into
    // the same port gets other numbers). Not shown.
    QString syspath;
    int busnum = 0;
    int devnum = 0;
    // The dock's serial number, where it has one; kept in the upgrade history.
    QString serial{};

    friend bool operator==(const DeviceRecord &, const DeviceRecord &) = default;
};

using DeviceList = QList<DeviceRecord>;

// The table's columns, in the order of the record's keys "vendor", "product", "fwversion".
enum class DeviceColumn { Vendor, Product, FwVersion };
inline constexpr int DeviceColumnCount = 3;

inline const QString &recordValue(const DeviceRecord &record, DeviceColumn column)
{
    switch (column) {
    case DeviceColumn::Vendor: return record.vendor;
    case DeviceColumn::Product: return record.product;
    case DeviceColumn::FwVersion: break;
    }
    return record.fwversion;
}

inline constexpr quint16 DockVendorId = 0x21C4;
inline constexpr quint16 DockProductId = 0xB070;
inline const char *const VersionUnknown = "N/A";
