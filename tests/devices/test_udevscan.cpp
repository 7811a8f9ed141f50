#include "app/appdelegate.h"
#include "devices/devicelist.h"
#include "devices/udevusbsource.h"
#include "usbtestbed.h"

#include <gtest/gtest.h>

namespace {
class UdevScan : public ::testing::Test {
protected:
    void SetUp() override
    {
        testbed = std::make_unique<UsbTestbed>();
        ASSERT_TRUE(UsbTestbed::available()) << "run this test under umockdev-wrapper";
    }

    DeviceList scan() { return buildDeviceList(UdevUsbSource().enumerate().devices, {}); }

    std::unique_ptr<UsbTestbed> testbed;
};
} // namespace

TEST_F(UdevScan, ListsOnlyDocksWithNamesOrHexFallbacks)
{
    EXPECT_TRUE(scan().isEmpty());

    testbed->addOther("046d", "c31c", "Logitech");
    testbed->addOther("21c4", "b071", "Talvex other product");
    testbed->addOther("b070", "21c4", "Swapped IDs");
    EXPECT_TRUE(scan().isEmpty());

    testbed->addDock();
    testbed->add({"21C4", "B070", std::nullopt, std::nullopt});
    const DeviceList expected = {
        {QStringLiteral("Talvex"), QStringLiteral("TD-70 USB-C Dock"), QStringLiteral("N/A")},
        {QStringLiteral("0x21C4"), QStringLiteral("0xB070"), QStringLiteral("N/A")},
    };
    EXPECT_EQ(scan(), expected);
}

TEST_F(UdevScan, BadAttributesNeverListOrCrash)
{
    struct Case {
        const char *name;
        UsbTestbed::Device device;
        bool listed;
        QString vendor; // when listed
    };
    const Case cases[] = {
        {"no idVendor", {std::nullopt, "b070", "X", "Y"}, false, {}},
        {"no idProduct", {"21c4", std::nullopt, "X", "Y"}, false, {}},
        {"empty idVendor", {"", "b070", "X", "Y"}, false, {}},
        {"idVendor not hex", {"21z4", "b070", "X", "Y"}, false, {}},
        {"idVendor wider than 16 bits", {"121c4", "b070", "X", "Y"}, false, {}},
        {"idProduct wider than 16 bits", {"21c4", "1b070", "X", "Y"}, false, {}},
        {"empty name", {"21c4", "b070", "", "Y"}, true, QString()},
        {"control characters", {"21c4", "b070", QByteArray("Tal\0vex\nFWVersion: 9\x1b[2J\n", 25), "Y"}, true,
         QStringLiteral("Tal\uFFFDvex\uFFFDFWVersion: 9\uFFFD[2J")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = testbed->add(c.device);
        const DeviceList list = scan();
        testbed->remove(path);
        ASSERT_EQ(list.size(), c.listed ? 1 : 0);
        if (c.listed) {
            EXPECT_EQ(list[0].vendor, c.vendor);
        }
    }

    // Only the first 4 KiB of a name file is read.
    const QByteArray longName(1 << 20, 'A');
    testbed->add({"21c4", "b070", longName, longName});
    const DeviceList list = scan();
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].vendor, QString(4096, QLatin1Char('A')));
}

// Every scan reads the bus afresh: docks that come and go are followed, and a
// dock that comes back starts without a version.
TEST_F(UdevScan, ControllerFollowsDocksBetweenScans)
{
    AppDelegate delegate(std::make_unique<UdevUsbSource>());
    const QString dock = testbed->addDock();
    testbed->addOther("046d", "c31c", "Logitech");
    delegate.scanUSBDevices();
    ASSERT_EQ(delegate.data.size(), 1);
    delegate.data[0].fwversion = QStringLiteral("1.0.3");
    delegate.scanUSBDevices();
    EXPECT_EQ(delegate.data.value(0).fwversion, QStringLiteral("1.0.3"));

    testbed->remove(dock);
    delegate.scanUSBDevices();
    EXPECT_TRUE(delegate.data.isEmpty());
    testbed->addDock();
    delegate.scanUSBDevices();
    EXPECT_EQ(delegate.data.value(0).fwversion, QStringLiteral("N/A"));
}
