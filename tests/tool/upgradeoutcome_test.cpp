#include "tool/upgradeoutcome.h"

#include "qtprint.h"
#include "text/uitext.h"

#include <gtest/gtest.h>

namespace {

// The usual run up to the closing line, as the tool prints it at level v.
const QString Progress = QStringLiteral(
    "Talvex Firmware Update 3.8.2\n"
    "Found device 21C4:B070 at bus 3 port 2\n"
    "Installed firmware: 1.0.3\n"
    "Image version 1.0.4, payload 262144 bytes, CRC-32 0x5D3A91C2 OK\n"
    "Erasing flash ...\n"
    "Writing block 8/8 (100%)\n"
    "Verifying ...\n");

enum class Verdict { Success, Failed, Abnormal };

struct OutcomeCase {
    const char *name;
    QString output;
    int status;
    ExitKind kind;
    Verdict expected;
};

// Phrases match case-insensitively anywhere in the output, never across lines.
const OutcomeCase OutcomeCases[] = {
    {"PhaseOneCompleted", Progress + "Firmware install (phase-1) completed\n", 0, ExitKind::Normal, Verdict::Success},
    {"UpdateSuccessfulLower", Progress + "firmware update successful!\n", 0, ExitKind::Normal, Verdict::Success},
    {"UpdateCompletedInsideLine", Progress + "[info] Firmware Update Completed in 41.2 s\n", 0, ExitKind::Normal, Verdict::Success},
    {"InstallCompletedUpper", Progress + "FIRMWARE INSTALL COMPLETED\n", 0, ExitKind::Normal, Verdict::Success},
    {"PhraseSplitByCrLf", Progress + "Firmware install\r\ncompleted\r\n", 0, ExitKind::Normal, Verdict::Failed},
    {"PhaseWithoutParentheses", Progress + "Firmware install phase-1 completed\n", 0, ExitKind::Normal, Verdict::Failed},
    {"NoClosingLine", Progress, 0, ExitKind::Normal, Verdict::Failed},
    {"FailureBeforeSuccessPhrase", Progress + "Firmware update failed: simulated\nFirmware update completed\n", 0,
     ExitKind::Normal, Verdict::Failed},
    {"FailureAfterSuccessPhrase", Progress + "Firmware install (phase-1) completed\nFIRMWARE UPDATE FAILED\n", 0,
     ExitKind::Normal, Verdict::Failed},
    {"NonZeroStatusWithSuccessPhrase", Progress + "Firmware update completed\n", 1, ExitKind::Normal, Verdict::Abnormal},
    {"NegativeStatus", Progress + "Firmware update completed\n", -1, ExitKind::Normal, Verdict::Abnormal},
    {"EndedBySignalStatusZero", Progress + "Firmware update completed\n", 0, ExitKind::Signal, Verdict::Abnormal},
};

TEST(ClassifyUpgrade, Cases)
{
    for (const OutcomeCase &c : OutcomeCases) {
        SCOPED_TRACE(c.name);
        const UpgradeOutcome outcome = classifyUpgrade(c.output, c.status, c.kind);
        EXPECT_EQ(outcome.success, c.expected == Verdict::Success);
        // Output read in pieces of any size finds the same phrases.
        const QByteArray bytes = c.output.toUtf8();
        for (const qsizetype piece : {qsizetype(1), qsizetype(7), qsizetype(4096)}) {
            UpgradePhraseScanner scanner;
            for (qsizetype at = 0; at < bytes.size(); at += piece)
                scanner.feed(QByteArrayView(bytes).sliced(at, std::min(piece, bytes.size() - at)));
            EXPECT_EQ(classifyUpgrade(scanner.found(), c.status, c.kind).success, outcome.success) << piece;
        }
        const QString message = c.expected == Verdict::Success  ? Ui::UpgradeSuccessful.text()
                                : c.expected == Verdict::Failed ? Ui::UpgradeFailedMessage.text()
                                                                : Ui::ToolExitedAbnormally.text();
        EXPECT_EQ(outcome.message, message);
    }
}

TEST(VerdictLogLine, Cases)
{
    EXPECT_EQ(verdictLogLine({true, QStringLiteral("Firmware upgrade successful!")}),
              QStringLiteral("[Upgrade] Success: YES, Message: Firmware upgrade successful!"));
    EXPECT_EQ(verdictLogLine({false, QStringLiteral("\u56fa\u4ef6\u5347\u7ea7\u5931\u8d25\uff01")}),
              QStringLiteral("[Upgrade] Success: NO, Message: \u56fa\u4ef6\u5347\u7ea7\u5931\u8d25\uff01"));
}

} // namespace
