#include "core/log.h"

#include "core/printable.h"

#include <QByteArray>
#include <QDateTime>
#include <QStringEncoder>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <unistd.h>
#include <sys/syscall.h>

extern char *program_invocation_short_name; // glibc

namespace {
void writeAll(QByteArrayView bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        p += n;
        left -= n;
    }
}
} // namespace

namespace {
// Writes the line's prefix, the label and the text as UTF-8 in pieces, so
// that a text of many megabytes never needs a second copy of itself.
void writeLine(QStringView label, QStringView text)
{
    QByteArray line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toUtf8();
    line += ' ';
    line += program_invocation_short_name;
    line += '[' + QByteArray::number(qint64(getpid())) + ':' + QByteArray::number(qint64(syscall(SYS_gettid))) + "] ";
    line += withoutControlCharacters(label.toString(), u"\n\t").toUtf8();

    // A long line takes several writes; the lock keeps other threads' lines out of it.
    static std::mutex writeLock;
    const std::lock_guard<std::mutex> guard(writeLock);
    writeAll(line);
    constexpr qsizetype Piece = 32 * 1024;
    QString piece;
    QByteArray utf8;
    for (qsizetype at = 0; at < text.size();) {
        qsizetype size = std::min(Piece, text.size() - at);
        // A surrogate pair stays in one piece.
        if (at + size < text.size() && text.at(at + size - 1).isHighSurrogate())
            --size;
        piece = withoutControlCharacters(text.sliced(at, size).toString(), u"\n\t");
        const QStringView chunk = piece;
        QStringEncoder encoder(QStringEncoder::Utf8);
        utf8.resize(encoder.requiredSpace(chunk.size()));
        char *end = encoder.appendToBuffer(utf8.data(), chunk);
        writeAll(QByteArrayView(utf8.constData(), end - utf8.constData()));
        at += size;
    }
    writeAll(QByteArrayLiteral("\n"));
}
} // namespace

void logLine(QStringView label, QStringView text)
{
    writeLine(label, text);
}

void logLine(QStringView text)
{
    logLine(text, {});
}
