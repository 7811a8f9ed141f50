#pragma once

#include <QString>
#include <QStringList>

// Where the firmware tool may have been installed beside this program.
struct ToolDirectories {
    QString executableDir;
    QString resourceDir;

    // The running program's own directory and its ../libexec/quorvale.
    static ToolDirectories forRunningProgram();
};

// The tool's file name; also what is launched when neither directory holds it.
inline constexpr char FirmwareToolName[] = "Talvex_Firmware_Update";

// The tool beside the program, else the one in the resource directory, else
// the bare name. Looked up again at every call, so a tool copied in while the
// program runs is picked up.
QString firmwareToolPath(const ToolDirectories &dirs);

// What to hand QProcess for a path from firmwareToolPath. A bare name is meant
// relative to the working directory; QProcess would look it up in PATH and
// could run some other program of that name.
QString programForLaunch(const QString &toolPath);

// The tool's arguments for reading the dock's firmware version.
QStringList versionQueryArguments();
// The tool's arguments for installing the given image on the dock.
QStringList upgradeArguments(const QString &imageFile);
