#include "cli/clioutput.h"

#include "flash/flashjob.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {
DeviceRecord dock()
{
    DeviceRecord record{QStringLiteral("Talvex"), QStringLiteral("TD-70"), QStringLiteral("1.0.3"),
                        QStringLiteral("/sys/devices/pci0000:00/usb1/1-2"), 1, 3};
    record.serial = QStringLiteral("TD70A2611042");
    return record;
}

QJsonObject parsed(const QJsonObject &object)
{
    // What a script reads: the bytes written, parsed again.
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(jsonDocument(object), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError);
    EXPECT_TRUE(jsonDocument(object).endsWith('\n'));
    return document.object();
}
} // namespace

// The field names scripts rely on, numbers as numbers, an unread version as null.
TEST(CliJson, DocksByTheirDocumentedNames)
{
    DeviceRecord unread = dock();
    unread.fwversion = QString::fromLatin1(VersionUnknown);
    unread.serial.clear();
    const QJsonArray docks = parsed(docksJson({dock(), unread})).value(QStringLiteral("docks")).toArray();
    ASSERT_EQ(docks.size(), 2);
    const QJsonObject first = docks.at(0).toObject();
    EXPECT_EQ(first.keys(), (QStringList{"manufacturer", "product", "serial", "sysfsPath", "version"}));
    EXPECT_EQ(first.value(QStringLiteral("manufacturer")).toString(), QStringLiteral("Talvex"));
    EXPECT_EQ(first.value(QStringLiteral("product")).toString(), QStringLiteral("TD-70"));
    EXPECT_EQ(first.value(QStringLiteral("serial")).toString(), QStringLiteral("TD70A2611042"));
    EXPECT_EQ(first.value(QStringLiteral("sysfsPath")).toString(), QStringLiteral("/sys/devices/pci0000:00/usb1/1-2"));
    EXPECT_EQ(first.value(QStringLiteral("version")).toString(), QStringLiteral("1.0.3"));
    EXPECT_TRUE(docks.at(1).toObject().value(QStringLiteral("version")).isNull());
    EXPECT_TRUE(docks.at(1).toObject().value(QStringLiteral("serial")).isNull());
    EXPECT_EQ(parsed(docksJson({})).value(QStringLiteral("docks")).toArray().size(), 0);
}

// A name a dock chose reaches the JSON as text, whatever it holds.
TEST(CliJson, UntrustedNamesStayText)
{
    DeviceRecord odd = dock();
    odd.vendor = QStringLiteral("A\"B\\C\u001b[31m\n}");
    const QJsonObject first = parsed(docksJson({odd})).value(QStringLiteral("docks")).toArray().at(0).toObject();
    EXPECT_EQ(first.value(QStringLiteral("manufacturer")).toString(), odd.vendor);
}

TEST(CliJson, UpgradeSummary)
{
    UpgradeSummary summary;
    summary.result = QStringLiteral("success");
    summary.exitStatus = ExitStatus::Done;
    summary.dock = dock();
    summary.versionBefore = QStringLiteral("1.0.3");
    summary.versionAfter = QStringLiteral("2.1.0");
    summary.imagePath = QStringLiteral("/srv/dock-2.1.0.bin");
    summary.imageSize = 65564;
    summary.imageSha256 = QStringLiteral("ab12");
    summary.silenceLimitSeconds = 600;
    summary.historyId = 7;
    summary.toolExitStatus = 0;
    summary.started = QDateTime(QDate(2026, 12, 7), QTime(1, 2, 3, 45), QTimeZone::utc());
    summary.ended = QDateTime(QDate(2026, 12, 7), QTime(3, 2, 3, 450), QTimeZone(3600));
    const QJsonObject json = parsed(upgradeJson(summary));
    EXPECT_EQ(json.value(QStringLiteral("result")).toString(), QStringLiteral("success"));
    EXPECT_TRUE(json.value(QStringLiteral("exitStatus")).isDouble());
    EXPECT_EQ(json.value(QStringLiteral("exitStatus")).toInt(), 0);
    EXPECT_EQ(json.value(QStringLiteral("dock")).toObject().value(QStringLiteral("serial")).toString(),
              QStringLiteral("TD70A2611042"));
    EXPECT_EQ(json.value(QStringLiteral("versionBefore")).toString(), QStringLiteral("1.0.3"));
    EXPECT_EQ(json.value(QStringLiteral("versionAfter")).toString(), QStringLiteral("2.1.0"));
    const QJsonObject image = json.value(QStringLiteral("image")).toObject();
    EXPECT_EQ(image.value(QStringLiteral("path")).toString(), QStringLiteral("/srv/dock-2.1.0.bin"));
    EXPECT_TRUE(image.value(QStringLiteral("size")).isDouble());
    EXPECT_EQ(image.value(QStringLiteral("size")).toInteger(), 65564);
    EXPECT_EQ(image.value(QStringLiteral("sha256")).toString(), QStringLiteral("ab12"));
    EXPECT_EQ(json.value(QStringLiteral("silenceLimitSeconds")).toInt(), 600);
    EXPECT_EQ(json.value(QStringLiteral("historyId")).toInteger(), 7);
    EXPECT_EQ(json.value(QStringLiteral("toolExitStatus")).toInt(-1), 0);
    EXPECT_TRUE(json.value(QStringLiteral("toolSignal")).isNull());
    // UTC, with milliseconds, whatever zone the time was made in.
    EXPECT_EQ(json.value(QStringLiteral("started")).toString(), QStringLiteral("2026-12-07T01:02:03.045Z"));
    EXPECT_EQ(json.value(QStringLiteral("ended")).toString(), QStringLiteral("2026-12-07T02:02:03.450Z"));
    EXPECT_TRUE(json.value(QStringLiteral("log")).isNull());
    EXPECT_TRUE(json.value(QStringLiteral("output")).isNull());
}

// How each ending of a flash past the confirmation leaves the program.
TEST(CliExit, FlashOutcomes)
{
    using Kind = FlashOutcome::Kind;
    const struct {
        const char *name;
        Kind kind;
        UpgradeVerdict verdict;
        ExitStatus status;
        const char *result;
    } cases[] = {
        {"success", Kind::Ran, UpgradeVerdict::Success, ExitStatus::Done, "success"},
        {"failed", Kind::Ran, UpgradeVerdict::Failed, ExitStatus::Failure, "failed"},
        {"abnormal end", Kind::Ran, UpgradeVerdict::AbnormalEnd, ExitStatus::Failure, "abnormal end"},
        {"no tool", Kind::NotLaunched, UpgradeVerdict::Failed, ExitStatus::Failure, "could not launch"},
        {"lock busy", Kind::LockBusy, UpgradeVerdict::Failed, ExitStatus::Failure, "refused"},
        {"not alone", Kind::NotAlone, UpgradeVerdict::Failed, ExitStatus::Failure, "refused"},
        {"dock gone", Kind::DockGone, UpgradeVerdict::Failed, ExitStatus::NotFound, "no dock"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        FlashOutcome outcome;
        outcome.kind = c.kind;
        outcome.report.verdict = c.verdict;
        outcome.success = c.kind == Kind::Ran && c.verdict == UpgradeVerdict::Success;
        const UpgradeSummary summary = summarizeFlash(outcome);
        EXPECT_EQ(summary.exitStatus, c.status);
        EXPECT_EQ(summary.result, QLatin1String(c.result));
        EXPECT_FALSE(summary.message.isEmpty() && c.kind == Kind::DockGone);
    }
    FlashOutcome stopped;
    stopped.kind = FlashOutcome::Kind::Ran;
    stopped.report.exitKind = ExitKind::Signal;
    stopped.report.exitStatus = 15;
    const UpgradeSummary summary = summarizeFlash(stopped);
    EXPECT_EQ(summary.toolSignal, 15);
    EXPECT_FALSE(summary.toolExitStatus);
}

// Columns line up on a terminal, Chinese taking two columns a character;
// nothing from outside can move the cursor or start a line.
TEST(CliTable, AlignedAndClean)
{
    EXPECT_EQ(displayWidth(u"固件版本"), 8);
    EXPECT_EQ(displayWidth(u"FWVersion"), 9);
    EXPECT_EQ(formatTable({{"制造商", "x"}, {"Talvex", "y"}}), QStringLiteral("制造商  x\nTalvex  y\n"));
    const QString table = formatTable({{"A", "B"}, {QStringLiteral("ev\u001b[2Jil\r"), QStringLiteral("o\nk")}});
    EXPECT_FALSE(table.contains(QChar(0x1B)));
    EXPECT_FALSE(table.contains(QLatin1Char('\r')));
    EXPECT_EQ(table.count(QLatin1Char('\n')), 2);
    EXPECT_EQ(terminalText(QStringLiteral("a\nb\u009bc"), true), QStringLiteral("a\nb\uFFFDc"));
}

TEST(CliTable, StatusLine)
{
    EXPECT_TRUE(flashStatusLine(65).startsWith(QLatin1String("[1:05] ")));
    EXPECT_TRUE(flashStatusLine(0).startsWith(QLatin1String("[0:00] ")));
}
