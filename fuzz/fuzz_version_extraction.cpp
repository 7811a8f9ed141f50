// The version search over whatever text a tool's bytes decode to.
#include "fuzzcheck.h"
#include "tool/tooloutput.h"
#include "tool/versionparse.h"

#include <QChar>

namespace {
bool isLineBreak(char16_t c)
{
    return (c >= 0x000A && c <= 0x000D) || c == 0x0085 || c == 0x2028 || c == 0x2029;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = decodeToolOutput(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    const std::optional<QString> version = extractFirmwareVersion(text);
    if (!version)
        return 0;
    // A version is a piece of one line of the output, without the
    // punctuation around it, and never empty.
    FUZZ_CHECK(!version->isEmpty());
    FUZZ_CHECK(text.contains(*version));
    FUZZ_CHECK(std::none_of(version->cbegin(), version->cend(), [](QChar c) { return isLineBreak(c.unicode()); }));
    const QList<uint> codePoints = version->toUcs4();
    FUZZ_CHECK(!QChar::isPunct(codePoints.first()) && !QChar::isPunct(codePoints.last()));
    return 0;
}
