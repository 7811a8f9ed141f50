#include "devices/devicemonitor.h"
#include "devices/udeveventmonitor.h"
#include "devices/udevusbsource.h"
#include "usbtestbed.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <array>
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
        const char *subsystem; // nullptr: a dock; "usb": a keyboard
        std::vector<const char *> actions;
        std::optional<bool> dockRemoved; // nothing: no signal
    } cases[] = {
        {"a dock plugged", nullptr, {"add"}, false},
        {"a dock unplugged", nullptr, {"remove"}, true},
        {"a dock changed", nullptr, {"change"}, false},
        {"a burst with an unplug in it", nullptr, {"add", "remove", "add", "change"}, true},
        {"a USB keyboard unplugged", "usb", {"remove", "add", "remove"}, false},
        {"a disk plugged", "block", {"add"}, std::nullopt},
        {"a mouse unplugged", "input", {"remove"}, std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = !c.subsystem                    ? testbed.addDock()
                             : QLatin1String(c.subsystem) == "usb" ? testbed.addOther("046d", "c31c", "Keyboard")
                                                                   : testbed.addOfSubsystem(c.subsystem);
        UdevEventMonitor monitor; // made after the device, so it hears only the events below
        ASSERT_TRUE(monitor.isActive()) << monitor.failure().toStdString();
        QSignalSpy spy(&monitor, &UdevEventMonitor::devicesChanged);
        for (const char *action : c.actions)
            testbed.uevent(path, action);
        QCoreApplication::processEvents();
        ASSERT_LE(spy.size(), 1);
        const std::optional<bool> dockRemoved = spy.isEmpty() ? std::nullopt : std::optional(spy.at(0).at(0).toBool());
        EXPECT_EQ(dockRemoved, c.dockRemoved);
    }
}

// A removal counts as a dock's by the event's PRODUCT, and when that says
// nothing, or events were lost, a dock may have gone.
TEST(UdevEvents, WhatABatchOfEventsAmountsTo)
{
    const struct {
        const char *name;
        std::vector<std::array<const char *, 4>> events; // subsystem, type, action, PRODUCT
        bool lost, changed, dockRemoved;
    } cases[] = {
        {"nothing", {}, false, false, false},
        {"a dock removed", {{"usb", "usb_device", "remove", "21c4/b070/103"}}, false, true, true},
        {"upper-case IDs", {{"usb", "usb_device", "remove", "21C4/B070/103"}}, false, true, true},
        {"a keyboard removed", {{"usb", "usb_device", "remove", "46d/c31c/6400"}}, false, true, false},
        {"a dock added", {{"usb", "usb_device", "add", "21c4/b070/103"}}, false, true, false},
        {"a removal that names no device", {{"usb", "usb_device", "remove", nullptr}}, false, true, true},
        {"a removal with a broken PRODUCT", {{"usb", "usb_device", "remove", "21c4"}}, false, true, true},
        {"an interface removed", {{"usb", "usb_interface", "remove", "21c4/b070/103"}}, false, false, false},
        {"events lost", {}, true, true, true},
        {"events lost among a keyboard's", {{"usb", "usb_device", "remove", "46d/c31c/6400"}}, true, true, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        UeventBatch batch;
        for (const auto &[subsystem, type, action, product] : c.events)
            batch.add(subsystem, type, action, product);
        if (c.lost)
            batch.lost();
        EXPECT_EQ(batch.changed, c.changed);
        EXPECT_EQ(batch.dockRemoved, c.dockRemoved);
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
    const QString keyboard = testbed.addOther("046d", "c31c", "Keyboard");
    const auto keyboardUnplugged = [&] {
        for (int i = 0; i < 3; ++i) // a socket holds 10 events that pass its filter
            testbed.uevent(keyboard, "remove"), testbed.uevent(keyboard, "add");
    };
    // Every version the table was ever given, for versions shown even for a moment.
    QStringList everShown;
    QObject::connect(&monitor, &DeviceMonitor::devicesChanged, [&] {
        for (const DeviceRecord &record : monitor.devices())
            everShown << record.fwversion;
    });
    const struct {
        const char *name;
        std::function<void()> act;
        QStringList versions;
    } steps[] = {
        {"plugged", plug, {"1.0.1"}},
        {"unplugged", unplug, {}},
        {"plugged again", plug, {"1.0.2"}},
        {"unplugged and plugged back at once", [&] { unplug(), plug(); }, {"1.0.3"}},
        {"another USB device unplugged: no query", keyboardUnplugged, {"1.0.3"}},
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
    // 1.0.4 was read from the dock that was swapped out during the query.
    EXPECT_FALSE(everShown.contains(QStringLiteral("1.0.4"))) << everShown.join(QLatin1Char(' ')).toStdString();
}
