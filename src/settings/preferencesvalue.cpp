#include "settings/preferencesvalue.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

#include <cmath>

std::optional<int> parseTimeoutSeconds(QStringView text)
{
    bool ok = false;
    // QStringView reads "." as the decimal point in every locale.
    const double seconds = text.trimmed().toDouble(&ok);
    if (!ok || !(seconds >= 0 && seconds <= MaxUpgradeTimeoutSeconds) || seconds != std::floor(seconds))
        return std::nullopt;
    return int(seconds);
}

int upgradeTimeoutSeconds(const QVariant &stored)
{
    std::optional<int> seconds;
    if (stored.typeId() == QMetaType::QString)
        seconds = parseTimeoutSeconds(stored.toString());
    else if (stored.typeId() == QMetaType::Double || stored.typeId() == QMetaType::Int)
        seconds = parseTimeoutSeconds(QString::number(stored.toDouble(), 'f'));
    return seconds.value_or(DefaultUpgradeTimeoutSeconds);
}

int storedUpgradeTimeoutSeconds(const QString &settingsPath)
{
    return upgradeTimeoutSeconds(QSettings(settingsPath, QSettings::NativeFormat).value(UpgradeTimeoutKey));
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

std::optional<QString> saveTimeoutSeconds(const QString &settingsPath, int seconds)
{
    // A settings object of its own, so that its status tells of this write alone.
    QSettings settings(settingsPath, QSettings::NativeFormat);
    const QString path = settings.fileName();
    // Qt waits for ever on a lock it cannot take or clear.
    if (QFileInfo(path + QStringLiteral(".lock")).isDir())
        return QStringLiteral("cannot write %1: its lock file %1.lock is a folder").arg(path);

    // A file that could not be read or parsed keeps the status at that error
    // for good, whatever the write does: then the file itself must show the value.
    const bool readCleanly = settings.status() == QSettings::NoError;
    const QVariant previous = settings.value(UpgradeTimeoutKey);
    settings.setValue(UpgradeTimeoutKey, double(seconds));
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
