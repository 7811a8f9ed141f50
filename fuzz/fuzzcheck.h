#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstdio>
#include <cstdlib>

// A property every input must keep; a broken one is a crash for libFuzzer.
#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);                         \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)

// Cuts the input into the pieces a pipe might deliver, their lengths (1 to
// 17 bytes) taken from the input itself, so that the fuzzer also explores
// where the cuts fall.
template<typename Feed>
void feedInPieces(QByteArrayView bytes, Feed feed)
{
    for (qsizetype at = 0, i = 0; at < bytes.size(); ++i) {
        const qsizetype length = std::min<qsizetype>(1 + uchar(bytes[i % bytes.size()]) % 17, bytes.size() - at);
        feed(bytes.sliced(at, length));
        at += length;
    }
}
