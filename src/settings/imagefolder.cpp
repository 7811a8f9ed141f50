#include "settings/imagefolder.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

QString imageStartFolder(const QString &settingsPath)
{
    const QString stored = QSettings(settingsPath, QSettings::NativeFormat).value(LastImageFolderKey).toString();
    const QFileInfo folder(stored);
    // A relative path would be read against the working directory.
    return !stored.isEmpty() && folder.isAbsolute() && folder.isDir() ? folder.absoluteFilePath() : QDir::homePath();
}

void rememberImageFolder(const QString &settingsPath, const QString &imagePath)
{
    QSettings(settingsPath, QSettings::NativeFormat).setValue(LastImageFolderKey, QFileInfo(imagePath).absolutePath());
}
