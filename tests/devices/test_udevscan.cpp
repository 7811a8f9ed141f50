#include "devices/devicemonitor.h"
#include "devices/devicelist.h"
#include "devices/udevusbsource.h"
#include "usbtestbed.h"

#include <gtest/gtest.h>

#include <QFile>

namespace {
class UdevScan : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(UsbTestbed::available()) << "run this test under umockdev-wrapper"; }
    // The rows without their places on the bus.
    DeviceList scan()
    {
        DeviceList rows = buildDeviceList(UdevUsbSource().enumerate().devices, {});
        for (DeviceRecord &row : rows)
            row.syspath.clear(), row.busnum = row.devnum = 0;
        return rows;
    }

    UsbTestbed testbed;
};
} // namespace

// What the attribute files of one device on the bus make of it: a row or nothing.
TEST_F(UdevScan, OneDeviceByItsAttributes)
{
    EXPECT_TRUE(scan().isEmpty());
    const auto row = [](const QString &vendor, const QString &product) {
        return DeviceList{{vendor, product, QStringLiteral("N/A"), {}}};
    };
    const QByteArray huge(1 << 20, 'A');
    const struct {
        const char *name;
        UsbTestbed::Device device;
        DeviceList listed;
    } cases[] = {
        {"a dock", {"21c4", "b070", "Talvex", "TD-70 USB-C Dock"}, row("Talvex", "TD-70 USB-C Dock")},
        {"upper-case IDs, no names", {"21C4", "B070", std::nullopt, std::nullopt}, row("0x21C4", "0xB070")},
        {"swapped IDs", {"b070", "21c4", "X", "Y"}, {}},
        {"no idVendor", {std::nullopt, "b070", "X", "Y"}, {}},
        {"no idProduct", {"21c4", std::nullopt, "X", "Y"}, {}},
        {"idProduct wider than 16 bits", {"21c4", "1b070", "X", "Y"}, {}},
        {"empty name", {"21c4", "b070", "", "Y"}, row("", "Y")},
        {"control characters, not UTF-8", {"21c4", "b070", QByteArray("Tal\0vex\nFWVersion: 9\x1b[2J\xff\n", 26), "Y"},
         row("Tal\uFFFDvex\uFFFDFWVersion: 9\uFFFD[2J\uFFFD", "Y")},
        {"only the first 4 KiB of a name", {"21c4", "b070", huge, huge}, row(QString(4096, u'A'), QString(4096, u'A'))},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = testbed.add(c.device);
        EXPECT_EQ(scan(), c.listed);
        testbed.remove(path);
    }
}

// Every scan reads the bus afresh: docks that come and go are followed, a
// renamed dock shows its new name, and a dock that comes back starts without
// a version.
TEST_F(UdevScan, MonitorFollowsDocksBetweenScans)
{
    int queries = 0;
    DeviceMonitor monitor(std::make_unique<UdevUsbSource>(),
                          [&] { return ++queries == 1 ? std::optional<QString>("1.0.3") : std::nullopt; });
    const QString dock = testbed.addDock();
    testbed.add({"046d", "c31c", "Logitech", "Keyboard"});
    monitor.scanUSBDevices();
    monitor.scanUSBDevices();
    ASSERT_EQ(monitor.devices().size(), 1);
    EXPECT_EQ(monitor.devices().value(0).fwversion, QStringLiteral("1.0.3"));
    // A dock is known by where it sits on the bus, and by the numbers the
    // kernel gave this plug-in of it.
    const DeviceRecord listed = monitor.devices().value(0);
    EXPECT_TRUE(QFile::exists(listed.syspath + QStringLiteral("/idVendor")));
    QFile devnum(listed.syspath + QStringLiteral("/devnum"));
    ASSERT_TRUE(devnum.open(QIODevice::ReadOnly));
    EXPECT_EQ(listed.devnum, devnum.readAll().trimmed().toInt());
    EXPECT_GT(listed.devnum, 0);
    EXPECT_EQ(listed.busnum, 1);
    testbed.setAttribute(dock, "product", "TD-70 renamed");
    monitor.scanUSBDevices();
    EXPECT_EQ(monitor.devices().value(0).product, QStringLiteral("TD-70 renamed"));

    testbed.remove(dock);
    monitor.scanUSBDevices();
    EXPECT_TRUE(monitor.devices().isEmpty());
    testbed.addDock();
    monitor.scanUSBDevices();
    EXPECT_EQ(monitor.devices().value(0).fwversion, QStringLiteral("N/A"));
}
