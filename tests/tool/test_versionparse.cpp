#include "tool/versionparse.h"

#include "tooltest.h"
#include "tool/tooloutput.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

TEST(ExtractFirmwareVersion, CapturedOutputs)
{
    for (const OutputCase &c : readOutputCases("version_outputs.txt")) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(extractFirmwareVersion(decodeToolOutput(c.output)),
                  c.expected == u"none" ? std::nullopt : std::optional(c.expected));
    }
}

} // namespace
