#pragma once

// Shared by the tool tests.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <vector>

// Readable failure messages for Qt values in gtest assertions.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QByteArray &b, std::ostream *os) { *os << '"' << b.toStdString() << '"'; }
inline void PrintTo(const QStringList &l, std::ostream *os) { *os << '[' << l.join(QStringLiteral(", ")).toStdString() << ']'; }

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArrayLiteral("<unreadable>");
}

// A shell script standing in for the firmware tool.
inline QString writeScript(const QString &path, const QByteArray &body)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\n" + body) > 0
                && file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    return path;
}

#ifdef TOOL_TEST_DATA
// A captured tool output and what a parser must make of it.
struct OutputCase {
    std::string name;
    QString expected;
    QByteArray output;
};

// The cases of data/<file>: each output follows a line "== <name>: <expected>"
// and runs up to the line break before the next such line.
inline std::vector<OutputCase> readOutputCases(const char *file)
{
    const QByteArray all = '\n' + readFile(QStringLiteral(TOOL_TEST_DATA "/") + QLatin1String(file));
    std::vector<OutputCase> cases;
    for (qsizetype at = all.indexOf("\n== "), next; at >= 0; at = next) {
        const qsizetype start = all.indexOf('\n', at + 1) + 1;
        next = all.indexOf("\n== ", start - 1);
        const QList<QByteArray> header = all.mid(at + 4, start - at - 5).split(':');
        cases.push_back({header[0].toStdString(), QString::fromUtf8(header.value(1).trimmed()),
                         all.mid(start, std::max<qsizetype>(0, (next < 0 ? all.size() - 1 : next) - start))});
    }
    EXPECT_FALSE(cases.empty()) << file;
    return cases;
}
#endif
