#include "tool/versionparse.h"

#include "tooltest.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

TEST(ExtractFirmwareVersion, Cases)
{
    const struct { const char *name; QString output; std::optional<QString> expected; } cases[] = {
        {"UsualLine", QStringLiteral("[debug] Reading composite image header ...\nComposite dock image version: 1.2.3\n"),
         QStringLiteral("1.2.3")},
        {"UpperCaseWithDash", QStringLiteral("COMPOSITE DOCK IMAGE VERSION - 10.04"), QStringLiteral("10.04")},
        {"TrailingDotNotPartOfVersion", QStringLiteral("Composite dock image version: 1.2."), QStringLiteral("1.2")},
        {"SuffixAfterNumberIgnored", QStringLiteral("Composite dock image version: 1.2.3-beta\n"), QStringLiteral("1.2.3")},
        {"MixedSeparatorsBeforeNumber", QStringLiteral("Composite dock image version :-:\t 2.4\n"), QStringLiteral("2.4")},
        {"OtherWordingTakesLastNumber", QStringLiteral("composite image version 1.2.3 (build 45)"), QStringLiteral("45")},
        {"VersionBeforeComposite", QStringLiteral("Version of the composite image: 7.0\n"), QStringLiteral("7.0")},
        {"KeywordsInsideWords", QStringLiteral("CompositeImage FWVersion 3.3\n"), QStringLiteral("3.3")},
        {"PunctuationAroundVersionStripped", QStringLiteral("composite version: [2.0.7],\n"), QStringLiteral("2.0.7")},
        {"CandidateWithoutNumberPassedOver",
         QStringLiteral("Composite image version: unknown\n[debug] retrying\ncomposite image version 2.1.0\n"),
         QStringLiteral("2.1.0")},
        {"FirstCandidateWithNumberWins", QStringLiteral("composite version 1.1\ncomposite version 2.2\n"),
         QStringLiteral("1.1")},
        {"DotOnlyWordIsNotAVersion", QStringLiteral("Composite image version: ...\n"), std::nullopt},
        {"NonLatinDecimalDigits", QStringLiteral("composite version \u0663.\u0664\n"), QStringLiteral("\u0663.\u0664")},
        {"CrLfUsualLine", QStringLiteral("Composite dock image version: 1.0.3\r\n"), QStringLiteral("1.0.3")},
        {"CrLfLastWordLosesCarriageReturn", QStringLiteral("Composite dock image version = 1.0.3\r\nDone\r\n"),
         QStringLiteral("1.0.3")},
        {"LineSeparatorEndsLine", QStringLiteral("Composite firmware version = 3.1\u2028Bootloader 0.9"),
         QStringLiteral("3.1")},
        {"NextLineCharEndsLine", QStringLiteral("Composite firmware version = 3.1\u0085Bootloader 0.9"),
         QStringLiteral("3.1")},
        {"VerticalTabEndsLine", QStringLiteral("Composite firmware version = 3.1\vBootloader 0.9"), QStringLiteral("3.1")},
        {"TabsSeparateWords", QStringLiteral("composite version =\t2.0.1\tOK\n"), QStringLiteral("2.0.1")},
        // Only a Unicode-aware \s takes the no-break spaces; otherwise the build
        // number at the end would be picked.
        {"NoBreakSpacesInUsualLine", QStringLiteral("Composite\u00A0dock image version:\u00A01.5.0 (build 77)\n"),
         QStringLiteral("1.5.0")},
        {"NoBreakSpacesSeparateWords", QStringLiteral("composite version =\u00A04.2\u00A0(rc)\n"), QStringLiteral("4.2")},
        {"LargeOutputPhraseAtEnd",
         QStringLiteral("[debug] usb: bulk IN ep 0x81 len 512\n").repeated(90000)
             + QStringLiteral("Composite dock image version: 9.8.7\n"),
         QStringLiteral("9.8.7")},
        {"NoCandidateLine", QStringLiteral("error: no device 21C4:B070 found on the USB bus\n"), std::nullopt},
        {"KeywordsOnDifferentLines", QStringLiteral("composite image\nversion 3.0\n"), std::nullopt},
        {"Empty", QString(), std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(extractFirmwareVersion(c.output), c.expected);
    }
}

} // namespace
