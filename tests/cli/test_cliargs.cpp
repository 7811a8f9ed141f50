#include "cli/cliargs.h"

#include <gtest/gtest.h>

#include <optional>

namespace {
struct Case {
    const char *name;
    QStringList arguments;
    CliCommand command;
    bool usageError;
    // What the request must hold when there is no error.
    std::optional<int> timeout = std::nullopt, limit = std::nullopt;
    QString image = {};
    bool json = false, yes = false, verbose = false, help = false;
};

const Case cases[] = {
    {"no command", {}, CliCommand::None, true},
    {"unknown command", {"flash"}, CliCommand::None, true},
    {"unknown option first", {"--frobnicate"}, CliCommand::None, true},
    {"list", {"list"}, CliCommand::List, false},
    {"list json", {"list", "--json"}, CliCommand::List, false, {}, {}, {}, true},
    {"list takes no --yes", {"list", "--yes"}, CliCommand::List, true},
    {"list takes no operand", {"list", "extra"}, CliCommand::List, true},
    {"option of another command", {"history", "--timeout", "5"}, CliCommand::History, true},
    {"upgrade", {"upgrade", "a.bin"}, CliCommand::Upgrade, false, {}, {}, "a.bin"},
    {"upgrade without image", {"upgrade", "--yes"}, CliCommand::Upgrade, true},
    {"upgrade with two images", {"upgrade", "a.bin", "b.bin"}, CliCommand::Upgrade, true},
    {"options before and after", {"upgrade", "--yes", "a.bin", "--json", "-v"}, CliCommand::Upgrade, true},
    {"all upgrade options", {"upgrade", "-y", "a.bin", "--json", "--verbose", "--timeout", "0"}, CliCommand::Upgrade,
     false, 0, {}, "a.bin", true, true, true},
    {"timeout with =", {"upgrade", "a.bin", "--timeout=86400"}, CliCommand::Upgrade, false, 86400, {}, "a.bin"},
    {"timeout one past the limit", {"upgrade", "a.bin", "--timeout", "86401"}, CliCommand::Upgrade, true},
    {"timeout negative", {"upgrade", "a.bin", "--timeout", "-1"}, CliCommand::Upgrade, true},
    {"timeout not whole", {"upgrade", "a.bin", "--timeout", "2.5"}, CliCommand::Upgrade, true},
    {"timeout with unit", {"upgrade", "a.bin", "--timeout", "20s"}, CliCommand::Upgrade, true},
    {"timeout written with .0", {"wait", "--timeout", "30.0"}, CliCommand::Wait, false, 30},
    {"timeout without value", {"wait", "--timeout"}, CliCommand::Wait, true},
    {"image after --", {"upgrade", "--", "--odd.bin"}, CliCommand::Upgrade, false, {}, {}, "--odd.bin"},
    {"flag given a value", {"list", "--json=yes"}, CliCommand::List, true},
    {"history limit", {"history", "--limit", "3"}, CliCommand::History, false, {}, 3},
    {"history limit zero", {"history", "--limit=0"}, CliCommand::History, false, {}, 0},
    {"history limit negative", {"history", "--limit", "-2"}, CliCommand::History, true},
    {"history limit not a number", {"history", "--limit", "all"}, CliCommand::History, true},
    {"help of a command wins over a missing image", {"upgrade", "--help"}, CliCommand::Upgrade, false,
     {}, {}, {}, false, false, false, true},
};
} // namespace

// Every usage error is one line, with a hint; everything else is read as given.
TEST(CliArguments, ReadsOrRefuses)
{
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const CliRequest request = parseCliArguments(c.arguments);
        EXPECT_EQ(!request.error.isEmpty(), c.usageError) << request.error.toStdString();
        if (c.usageError) {
            EXPECT_FALSE(request.error.contains(QLatin1Char('\n')));
            EXPECT_TRUE(request.error.contains(QLatin1String("--help")) || request.error.contains(QLatin1String("86400"))
                        || request.error.contains(QLatin1String("--limit")))
                << request.error.toStdString();
            continue;
        }
        EXPECT_EQ(request.command, c.command);
        EXPECT_EQ(request.timeoutSeconds, c.timeout);
        EXPECT_EQ(request.limit, c.limit);
        EXPECT_EQ(request.image, c.image);
        EXPECT_EQ(request.json, c.json);
        EXPECT_EQ(request.yes, c.yes);
        EXPECT_EQ(request.verbose, c.verbose);
        EXPECT_EQ(request.help, c.help);
    }
}

// A hint never carries what it quotes onto a line of its own, nor an escape
// sequence to the terminal.
TEST(CliArguments, QuotedArgumentIsCleaned)
{
    const CliRequest request = parseCliArguments({"list", "--x\n\033[2J"});
    EXPECT_FALSE(request.error.contains(QLatin1Char('\n')));
    EXPECT_FALSE(request.error.contains(QChar(0x1B)));
    EXPECT_TRUE(request.error.contains(QLatin1String("quorvale-cli list --help")));
}

TEST(CliArguments, ProgramHelpAndVersion)
{
    EXPECT_TRUE(parseCliArguments({"--help"}).help);
    EXPECT_EQ(parseCliArguments({"--help"}).command, CliCommand::None);
    EXPECT_TRUE(parseCliArguments({"--version"}).version);
    EXPECT_TRUE(cliHelpText(CliCommand::None).contains(QLatin1String("upgrade IMAGE")));
    EXPECT_TRUE(cliHelpText(CliCommand::Upgrade).contains(QLatin1String("--timeout")));
}
