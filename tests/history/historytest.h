#pragma once

// Shared by the history tests.

#include "history/historystore.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <ostream>

inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList &l, std::ostream *os)
{
    *os << '[' << l.join(QStringLiteral(" | ")).toStdString() << ']';
}
inline void PrintTo(const FlashRecord &r, std::ostream *os)
{
    *os << '{' << r.id << ' ' << r.started.toString(Qt::ISODateWithMs).toStdString() << ' '
        << r.ended.toString(Qt::ISODateWithMs).toStdString() << ' ' << flashResultName(r.result).toStdString() << ' '
        << QStringList{r.manufacturer, r.product, r.serial, r.syspath, r.versionBefore, r.versionAfter, r.imagePath,
                       QString::number(r.imageSize), r.imageSha256, QString::number(r.silenceLimitSeconds), r.message,
                       r.logPath}.join(u'|').toStdString()
        << " tail " << r.outputTail.size() << '}';
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArrayLiteral("<unreadable>");
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A start as the upgrade flow records it, its texts as awkward as a dock's
// name or a file name may be: quotes, placeholders, SQL, newlines, Chinese.
inline FlashRecord startOf(int n = 0)
{
    FlashRecord r;
    r.started = QDateTime(QDate(2026, 12, 7), QTime(6, 41, 5, 123), QTimeZone(8 * 3600)).addSecs(n);
    r.manufacturer = QStringLiteral("Talvex \"Docks\"\nLtd.");
    r.product = QStringLiteral("TD-70'); DELETE FROM flashes; -- %1").arg(n);
    r.serial = QStringLiteral("? :serial @1 $1");
    r.syspath = QStringLiteral("/sys/devices/pci0000:00/0000:00:14.0/usb3/3-1");
    r.versionBefore = QStringLiteral("1.0.3");
    r.imagePath = QStringLiteral("/home/用户/固件 'new'.bin");
    r.imageSize = 5'000'000'000;
    r.imageSha256 = QStringLiteral("9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");
    r.silenceLimitSeconds = 600;
    r.logPath = QStringLiteral("/tmp/talvex_upgrade_%1.log").arg(n);
    return r;
}

// A connection of the test's own to a store's file, as another program's.
class OtherConnection {
public:
    explicit OtherConnection(const QString &path)
        : m_name(QStringLiteral("test-other-%1").arg(++count()))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        EXPECT_TRUE(db.open());
    }
    ~OtherConnection()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    OtherConnection(const OtherConnection &) = delete;
    OtherConnection &operator=(const OtherConnection &) = delete;

    bool exec(const QString &sql) const { return QSqlQuery(QSqlDatabase::database(m_name, false)).exec(sql); }
    // The first column of the first row.
    QVariant value(const QString &sql) const
    {
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        return query.exec(sql) && query.next() ? query.value(0) : QVariant();
    }

private:
    static int &count()
    {
        static int n = 0;
        return n;
    }
    const QString m_name;
};

// Runs one of this program's disabled tests in a child process, with more
// environment, after the words of `launcher` when given.
inline void startChild(QProcess &child, const char *test, const QStringList &environment,
                       const QStringList &launcher = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &pair : environment)
        env.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    QStringList words = launcher;
    words << QCoreApplication::applicationFilePath() << QStringLiteral("--gtest_also_run_disabled_tests")
          << QStringLiteral("--gtest_filter=") + QLatin1String(test);
    child.start(words.takeFirst(), words);
}
