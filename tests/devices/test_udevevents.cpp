#include "devices/udeveventmonitor.h"
#include "usbtestbed.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

// What udev's events about one device make the monitor say, read at the next
// turn of the event loop: no timer stands between a uevent and the signal.
TEST(UdevEvents, OneSignalPerBurstOnlyForUsbDevices)
{
    UsbTestbed testbed;
    ASSERT_TRUE(UsbTestbed::available()) << "run this test under umockdev-wrapper";
    const struct {
        const char *name;
        const char *subsystem; // nullptr: a dock
        std::vector<const char *> actions;
        std::optional<bool> removed; // nothing: no signal
    } cases[] = {
        {"a dock plugged", nullptr, {"add"}, false},
        {"a dock unplugged", nullptr, {"remove"}, true},
        {"a dock changed", nullptr, {"change"}, false},
        {"a burst with an unplug in it", nullptr, {"add", "remove", "add", "change"}, true},
        {"a disk plugged", "block", {"add"}, std::nullopt},
        {"a mouse unplugged", "input", {"remove"}, std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = c.subsystem ? testbed.addOfSubsystem(c.subsystem) : testbed.addDock();
        UdevEventMonitor monitor; // made after the device, so it hears only the events below
        ASSERT_TRUE(monitor.isActive()) << monitor.failure().toStdString();
        QSignalSpy spy(&monitor, &UdevEventMonitor::devicesChanged);
        for (const char *action : c.actions)
            testbed.uevent(path, action);
        QCoreApplication::processEvents();
        ASSERT_LE(spy.size(), 1);
        const std::optional<bool> removed = spy.isEmpty() ? std::nullopt : std::optional(spy.at(0).at(0).toBool());
        EXPECT_EQ(removed, c.removed);
    }
}
