// Output decoding, the bounded in-memory copy and the saved log's encoding.
#include "fuzzcheck.h"
#include "tool/tooloutput.h"

#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const OutputEncoding encoding = encodingOf(bytes);
    const QString text = decodeToolOutput(bytes, encoding);
    // Nothing lost either way: UTF-8 reads back byte for byte, Latin-1 is one
    // character a byte.
    FUZZ_CHECK(encoding == OutputEncoding::Utf8 ? text.toUtf8() == bytes : text == QString::fromLatin1(bytes));

    // The log writer checks the stream as it passes, in pieces that cut
    // characters apart; it must pick the encoding judged on the whole.
    static QTemporaryDir logDir;
    ToolLogWriter log(ToolLogKind::Sync, logDir.path());
    // Small limits, from the input, so that most inputs overflow them.
    const qsizetype head = size > 0 ? data[0] % 16 : 0, tail = size > 1 ? data[1] % 16 : 0;
    BoundedOutput kept(head, tail);
    feedInPieces(bytes, [&](QByteArrayView piece) {
        log.append(piece);
        kept.append(piece.toByteArray());
    });
    FUZZ_CHECK(log.encoding() == encoding);

    // Whole when it fits; otherwise a start and an end of the input, each
    // within its limit and cut at line ends, never two half lines joined.
    const QByteArray out = kept.bytes();
    FUZZ_CHECK(kept.received() == bytes.size() && kept.truncated() == (bytes.size() > head + tail));
    if (!kept.truncated()) {
        FUZZ_CHECK(out == bytes);
        return 0;
    }
    bool split = false;
    for (qsizetype k = 0; k <= std::min(out.size(), head) && !split; ++k) {
        const QByteArray start = out.first(k), end = out.sliced(k);
        split = bytes.startsWith(start) && (k == 0 || start.endsWith('\n')) && end.size() <= tail
            && bytes.endsWith(end) && (end.isEmpty() || bytes.at(bytes.size() - end.size() - 1) == '\n');
    }
    FUZZ_CHECK(split);
    return 0;
}
