#pragma once

#include <QString>

// The folder of the firmware image picked last, kept for the next upgrade.
inline constexpr char LastImageFolderKey[] = "LastImageFolder";

// Where the file dialog opens: the folder of the image picked last, while it
// is still a folder; the home folder the first time and once it is gone.
// Never the working directory, which is wherever the program was started.
QString imageStartFolder(const QString &settingsPath);

// Keeps the folder of a picked image in the settings file. A write that fails
// costs only the convenience, so it is not reported.
void rememberImageFolder(const QString &settingsPath, const QString &imagePath);
