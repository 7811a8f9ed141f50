#include "tool/upgradeoutcome.h"

#include "tooltest.h"
#include "tool/tooloutput.h"

#include <gtest/gtest.h>

namespace {

// Phrases match case-insensitively anywhere in the output, never across lines;
// output read in pieces of any size finds the same phrases. Whatever the tool
// printed, a run that did not end cleanly with status 0 ended abnormally.
TEST(ClassifyUpgrade, CapturedOutputs)
{
    for (const OutputCase &c : readOutputCases("upgrade_outputs.txt")) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.expected == u"success" || c.expected == u"failed");
        const UpgradeVerdict verdict = c.expected == u"success" ? UpgradeVerdict::Success : UpgradeVerdict::Failed;
        const QString text = decodeToolOutput(c.output);
        EXPECT_EQ(classifyUpgrade(text, 0, ExitKind::Normal), verdict);
        for (const qsizetype piece : {qsizetype(1), qsizetype(7), qsizetype(4096)}) {
            UpgradePhraseScanner scanner;
            for (qsizetype at = 0; at < c.output.size(); at += piece)
                scanner.feed(QByteArrayView(c.output).sliced(at, std::min(piece, c.output.size() - at)));
            EXPECT_EQ(classifyUpgrade(scanner.found(), 0, ExitKind::Normal), verdict) << piece;
        }
        for (const auto &[status, kind] : {std::pair(1, ExitKind::Normal), std::pair(-1, ExitKind::Normal),
                                           std::pair(0, ExitKind::Signal), std::pair(0, ExitKind::Stopped)})
            EXPECT_EQ(classifyUpgrade(text, status, kind), UpgradeVerdict::AbnormalEnd) << status;
    }
}

} // namespace
