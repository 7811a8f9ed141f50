// Runs the simulator in upgrade mode as the app will: no shell, one pipe for
// stdout and stderr, outcome read from the exit status. Query mode is covered
// end to end by the version query tests in tests/tool.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using Env = std::map<std::string, std::string>;

namespace {

struct RunResult {
    std::string output;
    int exitCode = -1;  // -1 unless the process exited normally
    int signal = 0;     // set when it was ended by a signal

    bool hasLine(const std::string& line) const { return ("\n" + output + "\n").find("\n" + line + "\n") != npos; }
    bool hasLineStartingWith(const std::string& prefix) const { return ("\n" + output).find("\n" + prefix) != npos; }
    static constexpr auto npos = std::string::npos;
};

// The environment is the test's own minus any TALVEX_SIM_ settings, plus `env`.
RunResult run(const std::string& program, std::vector<std::string> args, const Env& env = {})
{
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
        if (!std::string_view(*e).starts_with("TALVEX_SIM_"))
            envStrings.emplace_back(*e);
    }
    for (const auto& [name, value] : env)
        envStrings.push_back(name + "=" + value);
    args.insert(args.begin(), program);
    const auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> p;
        for (auto& s : strings)
            p.push_back(s.data());
        p.push_back(nullptr);
        return p;
    };
    std::vector<char*> envp = pointers(envStrings);
    std::vector<char*> argv = pointers(args);

    RunResult result;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return ADD_FAILURE() << "pipe2 failed", result;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::dup2(fds[1], STDERR_FILENO);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    char buffer[65536];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        result.output.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return result;
}

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

    // The dock's state lives in the test's own directory; no pacing.
    Env dockEnv(Env extra = {}) const
    {
        extra.emplace("TALVEX_SIM_STATE", path("dock.state"));
        extra.emplace("TALVEX_SIM_PACE_MS", "0");
        return extra;
    }

    // A version 2.1.0 image made by the generator.
    std::string makeImage(const char* name, std::vector<std::string> args = {})
    {
        args.insert(args.end(), {"--version", "2.1.0", "--payload-size", "4096", "--out", path(name)});
        const RunResult made = run(MAKE_FIRMWARE_IMAGE_PATH, args);
        EXPECT_EQ(made.exitCode, 0) << made.output;
        return args.back();
    }

    // What the dock reports to a version query now.
    bool dockReports(const std::string& version) const
    {
        const RunResult query = run(TALVEX_SIMULATOR_PATH, {"-vid", "21C4", "-pid", "B070", "-v", "-l", "debug"},
                                    dockEnv());
        return query.exitCode == 0 && query.hasLine("Composite dock image version: " + version);
    }

    fs::path m_dir;
};

}  // namespace

TEST_F(Simulator, UpgradeInstallsTheImageVersion)
{
    const RunResult result = run(TALVEX_SIMULATOR_PATH, upgradeArgs(makeImage("good.bin")), dockEnv());
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_TRUE(result.hasLine(kCompleted)) << result.output;
    EXPECT_FALSE(result.hasLineStartingWith(kFailedPrefix)) << result.output;
    EXPECT_TRUE(dockReports("2.1.0"));
}

TEST_F(Simulator, BadImageFailsAndKeepsTheOldVersion)
{
    std::ofstream(path("notes.txt")) << "release notes, not an image\n";
    const std::pair<const char*, std::string> cases[] = {
        {"checksum mismatch", makeImage("corrupt.bin", {"--corrupt"})},
        {"missing file", path("absent.bin")},
        {"not an image", path("notes.txt")},
    };
    for (const auto& [name, image] : cases) {
        SCOPED_TRACE(name);
        const RunResult result = run(TALVEX_SIMULATOR_PATH, upgradeArgs(image), dockEnv());
        EXPECT_EQ(result.exitCode, 1) << result.output;
        EXPECT_TRUE(result.hasLineStartingWith(kFailedPrefix)) << result.output;
        EXPECT_FALSE(result.hasLine(kCompleted)) << result.output;
        EXPECT_TRUE(dockReports("1.0.3"));
    }
}

TEST_F(Simulator, WrongArgumentsAreUsageErrors)
{
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"no arguments", {}},
        {"another product", {"-vid", "21C4", "-pid", "B071", "-v", "-l", "debug"}},
        {"unknown option", {"-vid", "21C4", "-pid", "B070", "-v", "-l", "debug", "--force"}},
        {"query and upgrade at once", {"-vid", "21C4", "-pid", "B070", "-v", "-i", "x.bin", "-l", "v"}},
    };
    for (const auto& [name, args] : cases) {
        SCOPED_TRACE(name);
        const RunResult result = run(TALVEX_SIMULATOR_PATH, args, dockEnv());
        EXPECT_EQ(result.exitCode, 2) << result.output;
        EXPECT_TRUE(result.hasLineStartingWith("usage: ")) << result.output;
    }
}

TEST_F(Simulator, UpgradeMisbehaviours)
{
    const std::string image = makeImage("good.bin");
    struct Case {
        const char* mode;
        int exitCode;  // -1: must end by `signal`
        int signal;
        bool completed;
        bool failed;
    };
    const Case cases[] = {
        {"sigkill", -1, SIGKILL, false, false},
        {"sigsegv", -1, SIGSEGV, false, false},
        {"exit1", 1, 0, false, false},
        {"fail-phrase-with-success", 0, 0, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        const RunResult result =
            run(TALVEX_SIMULATOR_PATH, upgradeArgs(image), dockEnv({{"TALVEX_SIM_MISBEHAVE", c.mode}}));
        EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
        EXPECT_EQ(result.signal, c.signal) << result.output;
        EXPECT_EQ(result.hasLine(kCompleted), c.completed) << result.output;
        EXPECT_EQ(result.hasLine(kFailedPrefix + "simulated"), c.failed) << result.output;
        // None of these is a clean success, so the dock keeps its version.
        EXPECT_TRUE(dockReports("1.0.3"));
    }
}
