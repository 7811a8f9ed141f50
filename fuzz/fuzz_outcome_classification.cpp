// The upgrade outcome judged from the whole decoded text against the same
// bytes scanned as they arrive, in pieces.
#include "fuzzcheck.h"
#include "tool/tooloutput.h"
#include "tool/upgradeoutcome.h"

#include <QChar>

namespace {
// The text search compares with Unicode case folding, the scanner folds ASCII
// letters only. The phrases are ASCII, so the two can differ only on a
// character outside ASCII that folds to an ASCII letter: KELVIN SIGN to k,
// LONG S to s. Latin-1 has none; decoded UTF-8 may. Everywhere else they
// must find the same phrases.
bool foldsOntoAscii(const QString &text)
{
    const QList<uint> codePoints = text.toUcs4();
    return std::any_of(codePoints.cbegin(), codePoints.cend(),
                       [](uint c) { return c >= 0x80 && QChar::toCaseFolded(char32_t(c)) < 0x80; });
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = decodeToolOutput(bytes);
    UpgradePhraseScanner scanner;
    feedInPieces(bytes, [&](QByteArrayView piece) { scanner.feed(piece); });
    const UpgradePhrases whole = findUpgradePhrases(text), streamed = scanner.found();
    if (!foldsOntoAscii(text)) {
        FUZZ_CHECK(whole.failure == streamed.failure && whole.success == streamed.success);
        FUZZ_CHECK(classifyUpgrade(text, 0, ExitKind::Normal) == classifyUpgrade(streamed, 0, ExitKind::Normal));
    }
    return 0;
}
