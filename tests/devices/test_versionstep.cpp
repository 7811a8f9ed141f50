#include "app/appdelegate.h"
#include "fakeusbsource.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

namespace {
// A controller without a window whose firmware tool is a function of the test.
struct Harness {
    Harness()
    {
        auto source = std::make_unique<FakeUsbSource>();
        usb = source.get();
        delegate = std::make_unique<AppDelegate>(std::move(source), ToolDirectories{},
                                                 [this](const QString &) { return query(); });
    }
    std::optional<QString> query()
    {
        ++queries;
        if (duringQuery)
            duringQuery();
        return answer;
    }
    void scan(int docks)
    {
        usb->setDocks(docks);
        delegate->scanUSBDevices();
    }
    QStringList versions() const
    {
        QStringList result;
        for (const DeviceRecord &record : delegate->data)
            result << record.fwversion;
        return result;
    }

    FakeUsbSource *usb;
    std::unique_ptr<AppDelegate> delegate;
    std::optional<QString> answer = QStringLiteral("1.0.3");
    std::function<void()> duringQuery;
    int queries = 0;
};
} // namespace

TEST(VersionStep, QueriesOnceEachTimeDocksAppear)
{
    Harness h;
    h.scan(0); // NO, empty list: stays NO, no query
    EXPECT_FALSE(h.delegate->fwQueried);
    EXPECT_EQ(h.queries, 0);

    h.scan(1); // NO, docks: query and write
    EXPECT_TRUE(h.delegate->fwQueried);
    EXPECT_EQ(h.queries, 1);
    EXPECT_EQ(h.versions(), QStringList{"1.0.3"});

    h.answer = QStringLiteral("9.9");
    h.scan(1); // YES, docks: nothing, the version carries over
    EXPECT_EQ(h.queries, 1);
    EXPECT_EQ(h.versions(), QStringList{"1.0.3"});

    h.scan(0); // YES, empty list: back to NO
    EXPECT_FALSE(h.delegate->fwQueried);
    h.scan(1);
    EXPECT_EQ(h.queries, 2);
    EXPECT_EQ(h.versions(), QStringList{"9.9"});
}

TEST(VersionStep, NoAnswerKeepsNAAndIsNotRetriedWhileDocked)
{
    Harness h;
    for (const std::optional<QString> &answer : {std::optional<QString>(), std::optional<QString>(QString())}) {
        h.scan(0);
        h.answer = answer;
        h.scan(1);
        h.scan(1);
        EXPECT_TRUE(h.delegate->fwQueried);
        EXPECT_EQ(h.versions(), QStringList{"N/A"});
    }
    EXPECT_EQ(h.queries, 2);
}

TEST(VersionStep, FailedEnumerationLeavesTheFlag)
{
    Harness h;
    h.scan(1);
    h.usb->next.failure = QStringLiteral("IOServiceMatching failed");
    h.delegate->scanUSBDevices();
    EXPECT_TRUE(h.delegate->fwQueried);
    h.usb->setDocks(0);
    h.delegate->scanUSBDevices();
    h.usb->next.failure = QStringLiteral("IOServiceMatching failed");
    h.delegate->scanUSBDevices();
    EXPECT_FALSE(h.delegate->fwQueried);
    EXPECT_EQ(h.queries, 1);
}

TEST(VersionStep, OneQueryServesEveryDock)
{
    Harness h;
    h.scan(2);
    EXPECT_EQ(h.queries, 1);
    EXPECT_EQ(h.versions(), (QStringList{"1.0.3", "1.0.3"}));
    h.scan(1); // one unplugged: the other keeps the flag and its version
    EXPECT_EQ(h.queries, 1);
    EXPECT_TRUE(h.delegate->fwQueried);
}

TEST(VersionStep, ScansNestedInTheQueryWait)
{
    // A nested scan that still lists docks starts no second query, and the
    // answer goes into the list that is current when the query returns.
    Harness h;
    h.duringQuery = [&] {
        h.duringQuery = nullptr;
        h.scan(3);
    };
    h.scan(1);
    EXPECT_EQ(h.queries, 1);
    EXPECT_EQ(h.versions(), (QStringList{"1.0.3", "1.0.3", "1.0.3"}));

    // A nested scan that lists no dock clears the flag, so the next scan with
    // a dock asks again, even though the outer query wrote nothing to show.
    Harness g;
    g.duringQuery = [&] {
        g.duringQuery = nullptr;
        g.scan(0);
    };
    g.scan(1);
    EXPECT_TRUE(g.versions().isEmpty());
    EXPECT_FALSE(g.delegate->fwQueried);
    g.scan(1);
    EXPECT_EQ(g.queries, 2);
    EXPECT_EQ(g.versions(), QStringList{"1.0.3"});
}

// The query waits in a nested event loop; monitoring must go on in it, so a
// dock unplugged during the query leaves the list while the query still runs.
TEST(VersionStep, TicksKeepScanningDuringTheQuery)
{
    Harness h;
    h.delegate->startUSBMonitoring();
    bool rowGoneDuringQuery = false;
    h.duringQuery = [&] {
        h.duringQuery = nullptr;
        h.usb->setDocks(0);
        QEventLoop wait;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &wait, [&] {
            if (h.delegate->data.isEmpty()) {
                rowGoneDuringQuery = true;
                wait.quit();
            }
        });
        poll.start(20);
        QTimer::singleShot(3000, &wait, &QEventLoop::quit);
        wait.exec(QEventLoop::ExcludeUserInputEvents);
    };
    h.usb->setDocks(1); // the next tick lists the dock and starts the query
    const QDeadlineTimer deadline(5000);
    while (h.queries == 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    EXPECT_EQ(h.queries, 1);
    EXPECT_TRUE(rowGoneDuringQuery);
}
