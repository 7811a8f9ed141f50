// Runs the simulator and the image generator as the app will: no shell, one
// pipe for stdout and stderr, outcome read from the exit status.

#include "firmwareimage.h"
#include "simfiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Env = std::map<std::string, std::string>;
using Clock = std::chrono::steady_clock;

namespace {

struct RunResult {
    std::string output;
    int exitCode = -1;  // -1 unless the process exited normally
    int signal = 0;     // set when it was ended by a signal
    bool timedOut = false;
    Clock::duration firstOutputAt{-1};
    Clock::duration exitedAt{};
    Clock::duration pipeClosedAt{};
};

// Starts the program in its own process group so a timeout can end it and
// anything it forked, and keeps reading after it exits until every writer has
// closed the pipe.
RunResult run(const std::string& program, const std::vector<std::string>& args, const Env& env,
              Clock::duration timeout = 10s)
{
    RunResult result;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe2 failed";
        return result;
    }

    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::string_view(*e).rfind("TALVEX_SIM_", 0) != 0)
            envStrings.emplace_back(*e);
    }
    for (const auto& [name, value] : env)
        envStrings.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& s : envStrings)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argStrings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);

    const auto start = Clock::now();
    pid_t pid = -1;
    const int spawnError = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(fds[1]);
    if (spawnError != 0) {
        ::close(fds[0]);
        ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(spawnError);
        return result;
    }

    bool reaped = false;
    bool pipeOpen = true;
    while (!reaped || pipeOpen) {
        if (!result.timedOut && Clock::now() - start > timeout) {
            result.timedOut = true;
            ::kill(-pid, SIGKILL);
        }
        if (pipeOpen) {
            pollfd pfd{fds[0], POLLIN, 0};
            if (::poll(&pfd, 1, 20) > 0) {
                char buffer[65536];
                const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
                if (n > 0) {
                    if (result.output.empty())
                        result.firstOutputAt = Clock::now() - start;
                    result.output.append(buffer, static_cast<std::size_t>(n));
                } else if (n == 0 || errno != EINTR) {
                    pipeOpen = false;
                    result.pipeClosedAt = Clock::now() - start;
                }
            }
        } else {
            ::usleep(5000);
        }
        if (!reaped) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                reaped = true;
                result.exitedAt = Clock::now() - start;
                if (WIFEXITED(status))
                    result.exitCode = WEXITSTATUS(status);
                else if (WIFSIGNALED(status))
                    result.signal = WTERMSIG(status);
            }
        }
    }
    ::close(fds[0]);
    return result;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        result.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

bool hasLine(const std::string& output, const std::string& line)
{
    const auto all = lines(output);
    return std::find(all.begin(), all.end(), line) != all.end();
}

bool hasLineStartingWith(const std::string& output, const std::string& prefix)
{
    for (const auto& line : lines(output)) {
        if (line.rfind(prefix, 0) == 0)
            return true;
    }
    return false;
}

// Strict: rejects overlong forms, surrogates and code points past U+10FFFF,
// the same things a strict decoder in the app would choke on.
bool isValidUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        char32_t cp = 0;
        if (b < 0x80) {
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            extra = 1, cp = b & 0x1Fu;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2, cp = b & 0x0Fu;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3, cp = b & 0x07u;
        } else {
            return false;
        }
        if (i + extra >= text.size())
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0u) != 0x80u)
                return false;
            cp = (cp << 6) | (c & 0x3Fu);
        }
        const char32_t minimum = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
        if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::vector<std::string> kQueryArgs = {"-vid", "21C4", "-pid", "B070", "-v", "-l", "debug"};
const std::string kVersionLinePrefix = "Composite dock image version: ";
const std::string kCompleted = "Firmware update completed";
const std::string kFailedPrefix = "Firmware update failed: ";

std::vector<std::string> upgradeArgs(const std::string& image)
{
    return {"-vid", "21C4", "-pid", "B070", "-i", image, "-l", "v"};
}

class Simulator : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "talvex-sim-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string path(const std::string& name) const { return (m_dir / name).string(); }

    // The dock's state lives in a file inside the test's own directory.
    Env dockEnv(Env extra = {}) const
    {
        extra.emplace("TALVEX_SIM_STATE", path("dock.state"));
        extra.emplace("TALVEX_SIM_PACE_MS", "0");
        return extra;
    }

    std::string makeImage(const std::string& version, std::vector<std::string> extraArgs = {})
    {
        const std::string out = path("fw-" + version + (extraArgs.empty() ? "" : "-x") + ".bin");
        std::vector<std::string> args = {"--version", version, "--out", out, "--payload-size", "4096"};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        const RunResult made = run(MAKE_FIRMWARE_IMAGE_PATH, args, {});
        EXPECT_EQ(made.exitCode, 0) << made.output;
        return out;
    }

    std::string queriedVersion(const Env& env)
    {
        const RunResult result = run(TALVEX_SIMULATOR_PATH, kQueryArgs, env);
        EXPECT_EQ(result.exitCode, 0) << result.output;
        for (const auto& line : lines(result.output)) {
            if (line.rfind(kVersionLinePrefix, 0) == 0)
                return line.substr(kVersionLinePrefix.size());
        }
        return "<no version line>";
    }

    fs::path m_dir;
};

}  // namespace

TEST_F(Simulator, QueryReportsTheDocksCurrentVersion)
{
    struct Case {
        const char* name;
        const char* stateFile;  // nullptr: no state file
        Env env;
        const char* expected;
    };
    const Case cases[] = {
        {"nothing configured", nullptr, {}, "1.0.3"},
        {"initial version from the environment", nullptr, {{"TALVEX_SIM_VERSION", "4.5.6"}}, "4.5.6"},
        {"state file wins over the environment", "3.2.1\n", {{"TALVEX_SIM_VERSION", "4.5.6"}}, "3.2.1"},
        {"state file without newline, padded", "  7.0.12 \r\n", {}, "7.0.12"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(path("dock.state"));
        if (c.stateFile != nullptr)
            std::ofstream(path("dock.state")) << c.stateFile;
        const RunResult result = run(TALVEX_SIMULATOR_PATH, kQueryArgs, dockEnv(c.env));
        EXPECT_EQ(result.exitCode, 0) << result.output;
        const auto all = lines(result.output);
        EXPECT_EQ(std::count(all.begin(), all.end(), kVersionLinePrefix + c.expected), 1) << result.output;
    }
}

TEST_F(Simulator, UpgradeInstallsTheImageVersion)
{
    const std::string image = makeImage("2.1.0");
    const RunResult result = run(TALVEX_SIMULATOR_PATH, upgradeArgs(image), dockEnv());
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_TRUE(hasLine(result.output, kCompleted)) << result.output;
    EXPECT_FALSE(hasLineStartingWith(result.output, kFailedPrefix)) << result.output;

    EXPECT_EQ(readText(path("dock.state")), "2.1.0\n");
    EXPECT_EQ(queriedVersion(dockEnv()), "2.1.0");
    // The atomic write must not leave its temporary file behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 2);
}

TEST_F(Simulator, UpgradeRefusesBadImagesAndKeepsTheOldVersion)
{
    const std::string good = makeImage("2.1.0");
    const std::string goodBytes = readText(good);
    std::ofstream(path("truncated.bin"), std::ios::binary) << goodBytes.substr(0, goodBytes.size() - 100);
    std::ofstream(path("notes.txt")) << "release notes, not an image\n";

    struct Case {
        const char* name;
        std::string image;
        const char* reasonMentions;
    };
    const Case cases[] = {
        {"checksum mismatch", makeImage("2.1.0", {"--corrupt"}), "CRC-32"},
        {"missing file", path("absent.bin"), "No such file"},
        {"directory", m_dir.string(), "not a regular file"},
        {"truncated payload", path("truncated.bin"), "shorter"},
        {"not an image", path("notes.txt"), "magic"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult result = run(TALVEX_SIMULATOR_PATH, upgradeArgs(c.image), dockEnv());
        EXPECT_EQ(result.exitCode, 1) << result.output;
        EXPECT_FALSE(hasLine(result.output, kCompleted)) << result.output;
        const auto all = lines(result.output);
        const auto failed = std::find_if(all.begin(), all.end(),
                                         [](const std::string& l) { return l.rfind(kFailedPrefix, 0) == 0; });
        ASSERT_NE(failed, all.end()) << result.output;
        EXPECT_NE(failed->find(c.reasonMentions), std::string::npos) << *failed;
        EXPECT_FALSE(fs::exists(path("dock.state")));
    }
}

TEST_F(Simulator, WrongArgumentsAreUsageErrors)
{
    struct Case {
        const char* name;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {"no arguments", {}},
        {"another vendor", {"-vid", "21C5", "-pid", "B070", "-v", "-l", "debug"}},
        {"another product", {"-vid", "21C4", "-pid", "B071", "-v", "-l", "debug"}},
        {"unknown option", {"-vid", "21C4", "-pid", "B070", "-v", "-l", "debug", "--force"}},
        {"image without a path", {"-vid", "21C4", "-pid", "B070", "-l", "v", "-i"}},
        {"query and upgrade at once", {"-vid", "21C4", "-pid", "B070", "-v", "-i", "x.bin", "-l", "v"}},
        {"neither query nor upgrade", {"-vid", "21C4", "-pid", "B070", "-l", "v"}},
        {"no log level", {"-vid", "21C4", "-pid", "B070", "-v"}},
        {"vendor given twice", {"-vid", "21C4", "-vid", "21C4", "-pid", "B070", "-v", "-l", "debug"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult result = run(TALVEX_SIMULATOR_PATH, c.args, dockEnv());
        EXPECT_EQ(result.exitCode, 2) << result.output;
        EXPECT_TRUE(hasLineStartingWith(result.output, "usage: ")) << result.output;
        EXPECT_FALSE(hasLineStartingWith(result.output, kVersionLinePrefix)) << result.output;
    }
}

TEST_F(Simulator, ArgumentsLogRecordsEveryInvocation)
{
    const std::string image = makeImage("2.1.0");
    const std::string spaced = path("with space.bin");
    fs::copy_file(image, spaced);
    const Env env = dockEnv({{"TALVEX_SIM_ARGS_LOG", path("args.log")}});

    EXPECT_EQ(run(TALVEX_SIMULATOR_PATH, kQueryArgs, env).exitCode, 0);
    EXPECT_EQ(run(TALVEX_SIMULATOR_PATH, upgradeArgs(spaced), env).exitCode, 0);
    EXPECT_EQ(run(TALVEX_SIMULATOR_PATH, {"--bogus"}, env).exitCode, 2);

    EXPECT_EQ(readText(path("args.log")),
              "-vid\n21C4\n-pid\nB070\n-v\n-l\ndebug\n\n"
              "-vid\n21C4\n-pid\nB070\n-i\n" + spaced + "\n-l\nv\n\n"
              "--bogus\n\n");
}

TEST_F(Simulator, UpgradeProgressIsPacedAndStreamed)
{
    const std::string image = makeImage("2.1.0");
    const RunResult result = run(TALVEX_SIMULATOR_PATH, upgradeArgs(image),
                                 dockEnv({{"TALVEX_SIM_PACE_MS", "100"}}));
    ASSERT_EQ(result.exitCode, 0) << result.output;
    // 12 paced steps: a reader must see the first lines long before the end.
    EXPECT_GE(result.exitedAt, 1100ms);
    EXPECT_LT(result.firstOutputAt, 500ms);

    std::vector<std::string> steps;
    for (const auto& line : lines(result.output)) {
        if (line.starts_with("Erasing") || line.starts_with("Writing block") || line.starts_with("Verifying")
            || line == kCompleted)
            steps.push_back(line);
    }
    ASSERT_EQ(steps.size(), 11u) << result.output;
    EXPECT_EQ(steps[1], "Writing block 1/8 (12%)");
    EXPECT_EQ(steps[8], "Writing block 8/8 (100%)");
    EXPECT_EQ(steps.back(), kCompleted);
}

TEST_F(Simulator, MisbehavioursLookAsTheyShould)
{
    const std::string image = makeImage("2.1.0");
    struct Case {
        const char* name;
        bool upgrade;
        Env env;
        int exitCode;  // -1: must end by `signal`
        int signal;
        bool versionLine;
        bool completed;
        bool failedPhrase;
        bool validUtf8;
        std::size_t minBytes;
        std::size_t maxBytes;
    };
    const std::size_t any = SIZE_MAX;
    const Case cases[] = {
        {"sigkill query", false, {{"TALVEX_SIM_MISBEHAVE", "sigkill"}}, -1, SIGKILL, false, false, false, true, 1, 4096},
        {"sigkill upgrade", true, {{"TALVEX_SIM_MISBEHAVE", "sigkill"}}, -1, SIGKILL, false, false, false, true, 1, 4096},
        {"sigsegv query", false, {{"TALVEX_SIM_MISBEHAVE", "sigsegv"}}, -1, SIGSEGV, false, false, false, true, 1, 4096},
        {"silent query", false, {{"TALVEX_SIM_MISBEHAVE", "silent"}}, 0, 0, false, false, false, true, 0, 0},
        {"silent upgrade", true, {{"TALVEX_SIM_MISBEHAVE", "silent"}}, 0, 0, false, false, false, true, 0, 0},
        {"exit1 query", false, {{"TALVEX_SIM_MISBEHAVE", "exit1"}}, 1, 0, true, false, false, true, 1, any},
        {"exit1 upgrade", true, {{"TALVEX_SIM_MISBEHAVE", "exit1"}}, 1, 0, false, false, false, true, 1, any},
        {"garbage query", false, {{"TALVEX_SIM_MISBEHAVE", "garbage"}}, 0, 0, true, false, false, false, 1, any},
        {"garbage upgrade", true, {{"TALVEX_SIM_MISBEHAVE", "garbage"}}, 0, 0, false, true, false, false, 1, any},
        {"flood query", false, {{"TALVEX_SIM_MISBEHAVE", "flood"}, {"TALVEX_SIM_FLOOD_MB", "1"}}, 0, 0, true,
         false, false, true, 1024 * 1024, any},
        {"both phrases", true, {{"TALVEX_SIM_MISBEHAVE", "fail-phrase-with-success"}}, 0, 0, false, true, true,
         true, 1, any},
        {"both phrases only in upgrades", false, {{"TALVEX_SIM_MISBEHAVE", "fail-phrase-with-success"}}, 0, 0,
         true, false, false, true, 1, any},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult result =
            run(TALVEX_SIMULATOR_PATH, c.upgrade ? upgradeArgs(image) : kQueryArgs, dockEnv(c.env));
        const std::string shown = result.output.substr(0, 2000);
        if (c.exitCode < 0) {
            EXPECT_EQ(result.signal, c.signal) << shown;
        } else {
            EXPECT_EQ(result.signal, 0) << shown;
            EXPECT_EQ(result.exitCode, c.exitCode) << shown;
        }
        EXPECT_EQ(hasLine(result.output, kVersionLinePrefix + "1.0.3"), c.versionLine) << shown;
        EXPECT_EQ(hasLine(result.output, kCompleted), c.completed) << shown;
        EXPECT_EQ(hasLine(result.output, kFailedPrefix + "simulated"), c.failedPhrase) << shown;
        EXPECT_EQ(isValidUtf8(result.output), c.validUtf8) << shown;
        EXPECT_GE(result.output.size(), c.minBytes);
        EXPECT_LE(result.output.size(), c.maxBytes);
        if (c.versionLine) {
            EXPECT_EQ(lines(result.output).back(), kVersionLinePrefix + "1.0.3");
        }
        // Only a clean success may change what the dock reports afterwards.
        EXPECT_EQ(fs::exists(path("dock.state")), c.upgrade && c.exitCode == 0 && c.completed && !c.failedPhrase);
        fs::remove(path("dock.state"));
    }
}

TEST_F(Simulator, OrphanHoldsThePipeAfterTheToolExits)
{
    const RunResult result = run(TALVEX_SIMULATOR_PATH, kQueryArgs,
                                 dockEnv({{"TALVEX_SIM_MISBEHAVE", "orphan"}, {"TALVEX_SIM_ORPHAN_SECONDS", "1"}}));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_TRUE(hasLine(result.output, kVersionLinePrefix + "1.0.3")) << result.output;
    EXPECT_LT(result.exitedAt, 500ms);
    EXPECT_GE(result.pipeClosedAt, 900ms);
    EXPECT_LT(result.pipeClosedAt, 5s);
    EXPECT_FALSE(result.timedOut);
}

TEST_F(Simulator, MistakesInTheTestSetupAreNotMistakenForOutcomes)
{
    const Env cases[] = {
        {{"TALVEX_SIM_MISBEHAVE", "segfault"}},
        {{"TALVEX_SIM_PACE_MS", "fast"}},
        {{"TALVEX_SIM_FLOOD_MB", "-1"}},
    };
    for (const Env& env : cases) {
        SCOPED_TRACE(env.begin()->first + "=" + env.begin()->second);
        Env full = env;
        full.emplace("TALVEX_SIM_STATE", path("dock.state"));
        const RunResult result = run(TALVEX_SIMULATOR_PATH, kQueryArgs, full);
        EXPECT_EQ(result.exitCode, 3) << result.output;
        EXPECT_NE(result.output.find(env.begin()->first), std::string::npos) << result.output;
    }
}

TEST_F(Simulator, ImageGeneratorIsDeterministicAndReadable)
{
    const std::string first = makeImage("3.4.5");
    const std::string again = path("again.bin");
    ASSERT_EQ(run(MAKE_FIRMWARE_IMAGE_PATH,
                  {"--payload-size", "4096", "--out", again, "--version", "3.4.5"}, {}).exitCode, 0);
    EXPECT_EQ(readText(first), readText(again));

    const auto valid = talvexsim::readWholeFile(first, 1 << 20);
    const auto decoded = talvexsim::decodeImage(valid.bytes);
    ASSERT_TRUE(decoded.ok()) << talvexsim::describe(decoded.error);
    EXPECT_EQ(decoded.version, (talvexsim::FirmwareVersion{3, 4, 5}));
    EXPECT_EQ(decoded.payloadLength, 4096u);

    const auto corrupt = talvexsim::readWholeFile(makeImage("3.4.5", {"--corrupt"}), 1 << 20);
    EXPECT_EQ(talvexsim::decodeImage(corrupt.bytes).error, talvexsim::ImageError::CrcMismatch);

    const std::string defaultSize = path("default.bin");
    ASSERT_EQ(run(MAKE_FIRMWARE_IMAGE_PATH, {"--version", "1.0.0", "--out", defaultSize}, {}).exitCode, 0);
    EXPECT_EQ(fs::file_size(defaultSize), talvexsim::kImageHeaderSize + 64 * 1024);
}

TEST_F(Simulator, ImageGeneratorRejectsBadArguments)
{
    struct Case {
        const char* name;
        std::vector<std::string> args;
    };
    const std::string out = path("out.bin");
    const Case cases[] = {
        {"nothing", {}},
        {"no output", {"--version", "2.1.0"}},
        {"no version", {"--out", out}},
        {"two-part version", {"--version", "2.1", "--out", out}},
        {"version without value", {"--out", out, "--version"}},
        {"zero payload", {"--version", "2.1.0", "--out", out, "--payload-size", "0"}},
        {"payload size not a number", {"--version", "2.1.0", "--out", out, "--payload-size", "64k"}},
        {"unknown option", {"--version", "2.1.0", "--out", out, "--sign"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult result = run(MAKE_FIRMWARE_IMAGE_PATH, c.args, {});
        EXPECT_NE(result.exitCode, 0);
        EXPECT_FALSE(result.output.empty());
        EXPECT_FALSE(fs::exists(out));
    }
}
