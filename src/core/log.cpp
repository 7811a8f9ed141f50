#include "core/log.h"

#include <QByteArray>
#include <QDateTime>

#include <cerrno>
#include <mutex>
#include <unistd.h>
#include <sys/syscall.h>

extern char *program_invocation_short_name; // glibc

namespace {
void writeAll(const QByteArray &bytes)
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

void logLine(QStringView label, QStringView text)
{
    QByteArray line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toUtf8();
    line += ' ';
    line += program_invocation_short_name;
    line += '[' + QByteArray::number(qint64(getpid())) + ':' + QByteArray::number(qint64(syscall(SYS_gettid))) + "] ";
    line += label.toUtf8();
    const QByteArray body = text.toUtf8();

    // A long line takes several writes; the lock keeps other threads' lines out of it.
    static std::mutex writeLock;
    const std::lock_guard<std::mutex> guard(writeLock);
    writeAll(line);
    writeAll(body);
    writeAll(QByteArrayLiteral("\n"));
}

void logLine(QStringView text)
{
    logLine(text, {});
}
