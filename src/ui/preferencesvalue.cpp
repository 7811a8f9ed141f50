#include "ui/preferencesvalue.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

#include <cstdio>

double parseDoubleValue(const QString &text)
{
    const qsizetype size = text.size();
    const auto isDigit = [&](qsizetype at) { return at < size && text.at(at) >= u'0' && text.at(at) <= u'9'; };
    const auto isOneOf = [&](qsizetype at, QStringView chars) { return at < size && chars.contains(text.at(at)); };

    qsizetype at = 0;
    while (at < size && text.at(at).isSpace())
        ++at;
    const qsizetype start = at;
    if (isOneOf(at, u"+-"))
        ++at;
    qsizetype digits = 0;
    for (; isDigit(at); ++at)
        ++digits;
    if (isOneOf(at, u"."))
        for (++at; isDigit(at); ++at)
            ++digits;
    if (digits == 0)
        return 0;
    // An exponent counts only with a digit: "2e" and "2e+" are 2.
    if (isOneOf(at, u"eE")) {
        qsizetype exponent = at + 1;
        if (isOneOf(exponent, u"+-"))
            ++exponent;
        if (isDigit(exponent))
            for (at = exponent; isDigit(at);)
                ++at;
    }
    // QStringView::toDouble reads "." in every locale and gives an infinity on overflow.
    return QStringView(text).sliced(start, at - start).toDouble();
}

std::optional<double> storedTimeoutSeconds(const QVariant &stored)
{
    switch (stored.typeId()) {
    case QMetaType::QString:
        return parseDoubleValue(stored.toString());
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Bool:
        return stored.toDouble();
    default:
        return std::nullopt;
    }
}

QString formatTimeoutForField(double seconds)
{
    // printf itself, for its rounding: an exact half goes to the even neighbour (2.5 shows as 2).
    const int length = std::snprintf(nullptr, 0, "%.0f", seconds);
    QByteArray digits(length, '\0');
    std::snprintf(digits.data(), size_t(length) + 1, "%.0f", seconds);
    return QString::fromLatin1(digits);
}

namespace {
// The system's own word for why a file cannot be written, found by trying to.
QString writeProblem(const QString &path)
{
    QSaveFile probe(path);
    if (!probe.open(QIODevice::WriteOnly))
        return probe.errorString();
    // A full disk shows only when data reach it.
    if (probe.write(QByteArray(4096, '\n')) < 0 || !probe.flush())
        return probe.errorString();
    probe.cancelWriting();
    return QStringLiteral("unknown error");
}

// Whether the file on disk holds the value, as Qt writes a double.
bool fileHolds(const QString &path, double seconds)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = QByteArray(UpgradeTimeoutKey) + '=' + QVariant(seconds).toString().toUtf8();
    return file.readAll().split('\n').contains(line);
}
} // namespace

std::optional<QString> saveTimeoutSeconds(double seconds)
{
    QSettings settings;
    const QString path = settings.fileName();
    // Qt waits for ever on a lock it cannot take or clear.
    if (QFileInfo(path + QStringLiteral(".lock")).isDir())
        return QStringLiteral("cannot write %1: its lock file %1.lock is a folder").arg(path);

    // A file that could not be read or parsed keeps the status at that error
    // for good, whatever the write does: then the file itself must show the value.
    const bool readCleanly = settings.status() == QSettings::NoError;
    const QVariant previous = settings.value(UpgradeTimeoutKey);
    settings.setValue(UpgradeTimeoutKey, seconds);
    settings.sync();
    if (readCleanly ? settings.status() == QSettings::NoError : fileHolds(path, seconds))
        return std::nullopt;

    // Other settings objects of this process would read the unwritten value.
    if (previous.isValid())
        settings.setValue(UpgradeTimeoutKey, previous);
    else
        settings.remove(UpgradeTimeoutKey);
    return QStringLiteral("cannot write %1: %2").arg(path, writeProblem(path));
}

double upgradeTimeoutForRun(const QVariant &stored)
{
    bool ok = false;
    const double seconds = stored.toDouble(&ok);
    return ok ? seconds : DefaultUpgradeTimeoutSeconds;
}
