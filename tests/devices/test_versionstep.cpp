#include "guitest.h"
#include "logcapture.h"

#include <gtest/gtest.h>

namespace {
// A controller without a window whose firmware tool reports 1.0.3.
struct Harness : Controller {
    Harness() { answer = QStringLiteral("1.0.3"); }
};
} // namespace

TEST(VersionStep, OneQueryEachTimeDocksAppearServesEveryDock)
{
    Harness h;
    h.rescan(0); // NO, empty list: stays NO, no query
    EXPECT_FALSE(h.monitor().versionQueried());
    EXPECT_EQ(h.versionQueries, 0);

    h.rescan(2); // NO, docks: query and write to every row
    EXPECT_TRUE(h.monitor().versionQueried());
    EXPECT_EQ(h.versionQueries, 1);
    EXPECT_EQ(h.versions(), (QStringList{"1.0.3", "1.0.3"}));

    h.answer = QStringLiteral("9.9");
    h.rescan(1); // YES, docks (one unplugged): nothing, the version carries over
    EXPECT_EQ(h.versionQueries, 1);
    EXPECT_TRUE(h.monitor().versionQueried());
    EXPECT_EQ(h.versions(), QStringList{"1.0.3"});

    h.rescan(0); // YES, empty list: back to NO
    EXPECT_FALSE(h.monitor().versionQueried());
    h.rescan(1);
    EXPECT_EQ(h.versionQueries, 2);
    EXPECT_EQ(h.versions(), QStringList{"9.9"});

    // No answer, or an empty one: N/A, and not asked again while docked.
    for (const std::optional<QString> &answer : {std::optional<QString>(), std::optional<QString>(QString())}) {
        h.rescan(0);
        h.answer = answer;
        h.rescan(1);
        h.rescan(1);
        EXPECT_TRUE(h.monitor().versionQueried());
        EXPECT_EQ(h.versions(), QStringList{"N/A"});
    }
    EXPECT_EQ(h.versionQueries, 4);
}

// A registry that cannot be read is logged and changes nothing: not the
// list, not the flag either way.
TEST(VersionStep, FailedEnumerationChangesNothing)
{
    Harness h;
    h.rescan(1);
    const QString failure = QStringLiteral("IOServiceGetMatchingServices failed: fffffffe");
    h.usb->next.failure = failure;
    LogCapture log;
    h.monitor().scanUSBDevices();
    EXPECT_EQ(log.texts(), QStringList{failure});
    EXPECT_EQ(h.versions(), QStringList{"1.0.3"});
    EXPECT_TRUE(h.monitor().versionQueried());

    h.rescan(0);
    h.usb->next.failure = failure;
    h.monitor().scanUSBDevices();
    EXPECT_FALSE(h.monitor().versionQueried());
    EXPECT_EQ(h.versionQueries, 1);
}

TEST(VersionStep, ScansNestedInTheQueryWait)
{
    // A nested scan that still lists docks starts no second query, and the
    // answer goes into the list that is current when the query returns.
    Harness h;
    h.duringQuery = [&] {
        h.duringQuery = nullptr;
        h.rescan(3);
    };
    h.rescan(1);
    EXPECT_EQ(h.versionQueries, 1);
    EXPECT_EQ(h.versions(), (QStringList{"1.0.3", "1.0.3", "1.0.3"}));

    // A nested scan that lists no dock clears the flag, so the next scan with
    // a dock asks again, even though the outer query wrote nothing to show.
    h.rescan(0);
    h.duringQuery = [&] {
        h.duringQuery = nullptr;
        h.rescan(0);
    };
    h.rescan(1);
    EXPECT_TRUE(h.versions().isEmpty());
    EXPECT_FALSE(h.monitor().versionQueried());
    h.rescan(1);
    EXPECT_EQ(h.versionQueries, 3);
    EXPECT_EQ(h.versions(), QStringList{"1.0.3"});

    // Unplugged and back during the query, the same in every way a tree
    // without device numbers can tell: still not the dock that was asked.
    h.rescan(0);
    h.duringQuery = [&] {
        h.duringQuery = nullptr;
        h.rescan(0);
        h.rescan(1);
    };
    h.rescan(1);
    EXPECT_EQ(h.versions(), QStringList{"N/A"});
    EXPECT_FALSE(h.monitor().versionQueried());

    // With ticks alone (no udev events), a dock swapped for another of the
    // same names between two of them: the answer was the old dock's.
    h.rescan(0);
    QStringList everShown;
    QObject::connect(&h.monitor(), &DeviceMonitor::devicesChanged, [&] { everShown += h.versions(); });
    h.answer = QStringLiteral("old");
    h.duringQuery = [&] {
        h.answer = QStringLiteral("new");
        h.duringQuery = nullptr;
        h.usb->setDocks(1);
        h.usb->next.devices[0].devnum = 9;
        h.monitor().scanUSBDevices();
    };
    h.rescan(1);
    EXPECT_EQ(h.versions(), QStringList{"N/A"});
    EXPECT_FALSE(h.monitor().versionQueried()); // the next scan asks the new dock
    h.monitor().scanUSBDevices();
    EXPECT_EQ(h.versions(), QStringList{"new"});
    EXPECT_FALSE(everShown.contains(QStringLiteral("old"))) << everShown.join(QLatin1Char(' ')).toStdString();
}

// The query waits in a nested event loop; monitoring must go on in it, so a
// dock unplugged during the query leaves the list while the query still runs,
// also during the first query, which the first scan at start-up makes.
TEST(VersionStep, TicksKeepScanningDuringTheQuery)
{
    Harness h;
    bool rowGoneDuringQuery = false;
    h.duringQuery = [&] {
        h.duringQuery = nullptr;
        h.usb->setDocks(0);
        rowGoneDuringQuery = serveUntil([&] { return h.monitor().devices().isEmpty(); }, 3000);
    };
    h.usb->setDocks(1);
    h.monitor().startUSBMonitoring();
    EXPECT_EQ(h.versionQueries, 1);
    EXPECT_TRUE(rowGoneDuringQuery);
}
