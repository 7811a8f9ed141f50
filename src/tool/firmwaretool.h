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

inline constexpr char FirmwareToolName[] = "Talvex_Firmware_Update";

// The tool to run, or why there is none to run.
struct FirmwareTool {
    enum class State { Found, Missing, NotExecutable };

    // Also a path given directly, as tests and benchmarks do.
    FirmwareTool(QString path = {}, QString problem = {}, State state = State::Found)
        : path(std::move(path))
        , problem(std::move(problem))
        , state(this->problem.isEmpty() ? State::Found : state)
    {
    }
    QString path;    // where it is, or where it was looked for first
    QString problem; // e.g. "... is not executable"; empty when it can be run
    State state = State::Found;
};

// The tool beside the program, else the one in the resource directory;
// nowhere else, neither the working directory nor PATH, where some other
// program of that name could sit. Looked up again at every call, so a tool
// copied in while the program runs is picked up.
FirmwareTool findFirmwareTool(const ToolDirectories &dirs);

// The tool's arguments for reading the dock's firmware version.
QStringList versionQueryArguments();
// The tool's arguments for installing the given image on the dock.
QStringList upgradeArguments(const QString &imageFile);
