#include "tool/upgradeoutcome.h"

#include "tooltest.h"

#include <gtest/gtest.h>

namespace {

// Phrases match case-insensitively anywhere in the output, never across lines;
// output read in pieces of any size finds the same phrases.
TEST(ClassifyUpgrade, Cases)
{
    // The usual run up to the closing line, as the tool prints it at level v.
    const QString progress = QStringLiteral("Talvex Firmware Update 3.8.2\nInstalled firmware: 1.0.3\n"
                                            "Image version 1.0.4, payload 262144 bytes, CRC-32 0x5D3A91C2 OK\n"
                                            "Writing block 8/8 (100%)\nVerifying ...\n");
    const QString completed = progress + QStringLiteral("Firmware update completed\n");
    const UpgradeVerdict success = UpgradeVerdict::Success, failed = UpgradeVerdict::Failed,
                         abnormal = UpgradeVerdict::AbnormalEnd;
    const struct { const char *name; QString output; int status; ExitKind kind; UpgradeVerdict verdict; } cases[] = {
        {"PhaseOneCompleted", progress + "Firmware install (phase-1) completed\n", 0, ExitKind::Normal, success},
        {"UpdateSuccessfulLower", progress + "firmware update successful!\n", 0, ExitKind::Normal, success},
        {"UpdateCompletedInsideLine", progress + "[info] Firmware Update Completed in 41.2 s\n", 0, ExitKind::Normal,
         success},
        {"InstallCompletedUpper", progress + "FIRMWARE INSTALL COMPLETED\n", 0, ExitKind::Normal, success},
        {"PhraseSplitByCrLf", progress + "Firmware install\r\ncompleted\r\n", 0, ExitKind::Normal, failed},
        {"PhaseWithoutParentheses", progress + "Firmware install phase-1 completed\n", 0, ExitKind::Normal, failed},
        {"NoClosingLine", progress, 0, ExitKind::Normal, failed},
        {"FailureBeforeSuccessPhrase", progress + "Firmware update failed: simulated\nFirmware update completed\n", 0,
         ExitKind::Normal, failed},
        {"FailureAfterSuccessPhrase", progress + "Firmware install (phase-1) completed\nFIRMWARE UPDATE FAILED\n", 0,
         ExitKind::Normal, failed},
        {"NonZeroStatusWithSuccessPhrase", completed, 1, ExitKind::Normal, abnormal},
        {"NegativeStatus", completed, -1, ExitKind::Normal, abnormal},
        {"EndedBySignalStatusZero", completed, 0, ExitKind::Signal, abnormal},
        {"StoppedStatusZero", completed, 0, ExitKind::Stopped, abnormal},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(classifyUpgrade(c.output, c.status, c.kind), c.verdict);
        const QByteArray bytes = c.output.toUtf8();
        for (const qsizetype piece : {qsizetype(1), qsizetype(7), qsizetype(4096)}) {
            UpgradePhraseScanner scanner;
            for (qsizetype at = 0; at < bytes.size(); at += piece)
                scanner.feed(QByteArrayView(bytes).sliced(at, std::min(piece, bytes.size() - at)));
            EXPECT_EQ(classifyUpgrade(scanner.found(), c.status, c.kind), c.verdict) << piece;
        }
    }
}

} // namespace
