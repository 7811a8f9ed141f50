#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The exit statuses of quorvale-cli, as firmware-update clients use them.
enum class ExitStatus : int {
    Done = 0,
    Failure = 1,
    NothingToDo = 2, // list: no dock connected
    NotFound = 3,    // upgrade or wait: no dock
    Usage = 64,      // an unknown command or option, a bad value
};

enum class CliCommand { None, List, Upgrade, History, Wait };

// What the command line asks for. With a usage error, only `error` counts:
// one line for standard error that ends with a hint.
struct CliRequest {
    CliCommand command = CliCommand::None;
    bool help = false;    // --help: the command's help, or the program's
    bool version = false; // --version
    bool json = false;
    bool yes = false;     // upgrade: do not ask
    bool verbose = false; // upgrade: show the tool's output
    QString image;        // upgrade
    std::optional<int> timeoutSeconds; // upgrade: silence limit; wait: how long
    std::optional<int> limit;          // history
    QString error;
};

// Reads the arguments after the program's name. Options may come before or
// after the image; "--" ends the options; "--timeout=30" and "--timeout 30"
// are the same. --timeout follows the Preferences' rule: whole seconds 0..86400.
CliRequest parseCliArguments(const QStringList &arguments);

// The help text of a command (None: the program's), in the user's language.
QString cliHelpText(CliCommand command);
QString cliCommandName(CliCommand command);
