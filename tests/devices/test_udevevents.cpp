#include "devices/devicemonitor.h"
#include "devices/udeveventmonitor.h"
#include "devices/udevusbsource.h"
#include "usbtestbed.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

using namespace std::chrono_literals;

namespace {
void settle()
{
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
}
} // namespace

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

// With the tick an hour away, udev's events alone keep the list: a dock is
// listed and read when plugged, goes when unplugged, and one that comes back
// before any scan could miss it is read afresh, never by two tools at once.
TEST(UdevEvents, MonitorFollowsDocksWithoutTicks)
{
    UsbTestbed testbed;
    ASSERT_TRUE(UsbTestbed::available()) << "run this test under umockdev-wrapper";
    int queries = 0, running = 0, overlapping = 0;
    std::function<void()> duringQuery;
    DeviceMonitor monitor(std::make_unique<UdevUsbSource>(), [&] {
        overlapping += running++ > 0;
        ++queries;
        if (duringQuery)
            std::exchange(duringQuery, {})();
        --running;
        return std::optional(QStringLiteral("1.0.%1").arg(queries));
    });
    monitor.setTickInterval(1h);
    monitor.setEventMonitor(std::make_unique<UdevEventMonitor>());
    monitor.startUSBMonitoring();
    QString dock;
    const auto plug = [&] { dock = testbed.addDock(); }; // the testbed sends "add" itself
    const auto unplug = [&] {
        testbed.uevent(dock, "remove");
        testbed.remove(dock);
    };
    const struct {
        const char *name;
        std::function<void()> act;
        QStringList versions;
    } steps[] = {
        {"plugged", plug, {"1.0.1"}},
        {"unplugged", unplug, {}},
        {"plugged again", plug, {"1.0.2"}},
        {"unplugged and plugged back at once", [&] { unplug(), plug(); }, {"1.0.3"}},
        {"swapped while its version is read", [&] {
             duringQuery = [&] { unplug(), plug(), settle(); };
             unplug(), plug();
         }, {"1.0.5"}},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.name);
        step.act();
        settle();
        QStringList versions;
        for (const DeviceRecord &record : monitor.devices())
            versions << record.fwversion;
        EXPECT_EQ(versions, step.versions);
    }
    EXPECT_EQ(overlapping, 0);
}
