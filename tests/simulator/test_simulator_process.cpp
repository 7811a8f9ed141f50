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

// Only a good image with no misbehaviour installs; every other run leaves the
// dock's version as it was.
TEST_F(Simulator, UpgradeOutcomes)
{
    std::ofstream(path("notes.txt")) << "release notes, not an image\n";
    const std::string good = makeImage("good.bin");
    struct Case {
        const char* name;
        std::string image;
        const char* misbehave;
        int exitCode;  // -1: must end by `signal`
        int signal;
        bool completed;
        const char* failure;  // what follows the failure prefix, if anything must
    };
    const Case cases[] = {
        {"good image", good, "", 0, 0, true, nullptr},
        {"checksum mismatch", makeImage("corrupt.bin", {"--corrupt"}), "", 1, 0, false, ""},
        {"missing file", path("absent.bin"), "", 1, 0, false, ""},
        {"not an image", path("notes.txt"), "", 1, 0, false, ""},
        {"sigkill", good, "sigkill", -1, SIGKILL, false, nullptr},
        {"sigsegv", good, "sigsegv", -1, SIGSEGV, false, nullptr},
        {"exit1", good, "exit1", 1, 0, false, nullptr},
        {"fail-phrase-with-success", good, "fail-phrase-with-success", 0, 0, true, "simulated"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(path("dock.state"));
        const RunResult result =
            run(TALVEX_SIMULATOR_PATH, upgradeArgs(c.image), dockEnv({{"TALVEX_SIM_MISBEHAVE", c.misbehave}}));
        EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
        EXPECT_EQ(result.signal, c.signal) << result.output;
        EXPECT_EQ(result.hasLine(kCompleted), c.completed) << result.output;
        EXPECT_EQ(result.hasLineStartingWith(kFailedPrefix + (c.failure ? c.failure : "")), c.failure != nullptr)
            << result.output;
        EXPECT_TRUE(dockReports(c.exitCode == 0 && !c.failure ? "2.1.0" : "1.0.3"));
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
