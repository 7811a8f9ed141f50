#include "cli/cliargs.h"

#include "core/printable.h"
#include "settings/preferencesvalue.h"
#include "text/uitext.h"

namespace {
struct CommandName {
    const char *name;
    CliCommand command;
};
constexpr CommandName Commands[] = {
    {"list", CliCommand::List},
    {"upgrade", CliCommand::Upgrade},
    {"history", CliCommand::History},
    {"wait", CliCommand::Wait},
};

// An argument shown inside a one-line message: quoted, on its line.
QString quoted(const QString &argument)
{
    return QLatin1Char('"') + withoutControlCharacters(argument) + QLatin1Char('"');
}

bool takesOption(CliCommand command, QStringView option)
{
    if (option == u"--json" || option == u"--help")
        return true;
    switch (command) {
    case CliCommand::Upgrade:
        return option == u"--yes" || option == u"--timeout" || option == u"--verbose";
    case CliCommand::History:
        return option == u"--limit";
    case CliCommand::Wait:
        return option == u"--timeout";
    case CliCommand::List:
    case CliCommand::None:
        break;
    }
    return false;
}
} // namespace

QString cliCommandName(CliCommand command)
{
    for (const CommandName &c : Commands)
        if (c.command == command)
            return QLatin1String(c.name);
    return {};
}

CliRequest parseCliArguments(const QStringList &arguments)
{
    CliRequest request;
    if (arguments.isEmpty()) {
        request.error = Ui::CliNoCommand.text();
        return request;
    }
    const QString &first = arguments.first();
    if (first == u"--help" || first == u"-h") {
        request.help = true;
        return request;
    }
    if (first == u"--version") {
        request.version = true;
        return request;
    }
    for (const CommandName &c : Commands)
        if (first == QLatin1String(c.name))
            request.command = c.command;
    if (request.command == CliCommand::None) {
        request.error = Ui::CliUnknownCommand.arg(quoted(first));
        return request;
    }
    const QString name = cliCommandName(request.command);
    bool optionsEnded = false;
    QStringList operands;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument == u"-") {
            operands << argument;
            continue;
        }
        if (argument == u"--") {
            optionsEnded = true;
            continue;
        }
        QString option = argument;
        std::optional<QString> value;
        if (const qsizetype equals = argument.indexOf(QLatin1Char('=')); equals > 0) {
            option = argument.left(equals);
            value = argument.mid(equals + 1);
        }
        if (option == u"-y")
            option = QStringLiteral("--yes");
        else if (option == u"-h")
            option = QStringLiteral("--help");
        if (!takesOption(request.command, option)) {
            request.error = fillPlaceholders(Ui::CliUnknownOption.text(), {quoted(option), name});
            return request;
        }
        const bool needsValue = option == u"--timeout" || option == u"--limit";
        if (!needsValue && value) {
            request.error = fillPlaceholders(Ui::CliUnknownOption.text(), {quoted(argument), name});
            return request;
        }
        if (needsValue && !value) {
            if (i + 1 >= arguments.size()) {
                request.error = fillPlaceholders(Ui::CliMissingValue.text(), {option, name});
                return request;
            }
            value = arguments.at(++i);
        }
        if (option == u"--json") {
            request.json = true;
        } else if (option == u"--help") {
            request.help = true;
        } else if (option == u"--yes") {
            request.yes = true;
        } else if (option == u"--verbose") {
            request.verbose = true;
        } else if (option == u"--timeout") {
            request.timeoutSeconds = parseTimeoutSeconds(*value);
            if (!request.timeoutSeconds) {
                request.error = Ui::CliBadTimeout.arg(quoted(*value));
                return request;
            }
        } else if (option == u"--limit") {
            bool ok = false;
            const int limit = value->trimmed().toInt(&ok);
            if (!ok || limit < 0) {
                request.error = Ui::CliBadLimit.arg(quoted(*value));
                return request;
            }
            request.limit = limit;
        }
    }
    if (request.help)
        return request;
    if (request.command == CliCommand::Upgrade && !operands.isEmpty())
        request.image = operands.takeFirst();
    if (!operands.isEmpty()) {
        request.error = fillPlaceholders(Ui::CliExtraArgument.text(), {quoted(operands.first()), name});
        return request;
    }
    if (request.command == CliCommand::Upgrade && request.image.isEmpty())
        request.error = Ui::CliMissingImage.text();
    return request;
}

QString cliHelpText(CliCommand command)
{
    switch (command) {
    case CliCommand::List:
        return Ui::CliListHelp.text();
    case CliCommand::Upgrade:
        return Ui::CliUpgradeHelp.text();
    case CliCommand::History:
        return Ui::CliHistoryHelp.text();
    case CliCommand::Wait:
        return Ui::CliWaitHelp.text();
    case CliCommand::None:
        break;
    }
    return Ui::CliHelp.text();
}
