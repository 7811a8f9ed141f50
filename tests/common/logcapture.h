#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

// Sends standard error, where every log line goes, into a temporary file for
// the life of the object, so a test can read back exactly what was logged.
class LogCapture {
public:
    LogCapture()
    {
        std::fflush(stderr);
        m_file = std::tmpfile();
        m_saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
        ::dup2(::fileno(m_file), STDERR_FILENO);
    }
    ~LogCapture()
    {
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        std::fclose(m_file);
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    // Everything written so far.
    QByteArray bytes() const
    {
        std::fflush(stderr);
        QByteArray all;
        char buffer[65536];
        ssize_t n;
        off_t at = 0;
        while ((n = ::pread(::fileno(m_file), buffer, sizeof buffer, at)) > 0) {
            all.append(buffer, n);
            at += n;
        }
        return all;
    }

    // The text of each logged line, without the date, process and thread prefix.
    // A logged text that spans several lines comes back as several entries.
    QStringList texts() const
    {
        QStringList result;
        const QStringList lines = QString::fromUtf8(bytes()).split(QLatin1Char('\n'));
        for (const QString &line : lines) {
            const qsizetype prefixEnd = line.indexOf(QLatin1String("] "));
            const bool prefixed = line.size() > 24 && line.at(4) == QLatin1Char('-') && prefixEnd > 0;
            result.append(prefixed ? line.mid(prefixEnd + 2) : line);
        }
        while (!result.isEmpty() && result.last().isEmpty())
            result.removeLast();
        return result;
    }

    bool contains(const QString &text) const { return texts().contains(text); }

private:
    std::FILE *m_file;
    int m_saved;
};
