// Runs the simulator as a process, stdout and stderr on one pipe as the app
// reads them, for what the tool tests do not reach: its argument checks, and
// the dock's version after runs that fail in their own ways. Its other
// misbehaviours are exercised through the version query and upgrade tests.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

struct RunResult {
    std::string output;
    int exitCode = -1; // -1 unless the process exited normally

    bool hasLineStarting(const std::string& start) const { return ("\n" + output).find("\n" + start) != output.npos; }
};

RunResult run(const std::string& command)
{
    RunResult result;
    FILE* pipe = ::popen(("exec " + command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return ADD_FAILURE() << "popen failed", result;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        result.output.append(buffer, n);
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string simulator(const std::string& misbehave, const std::string& args)
{
    return "env TALVEX_SIM_MISBEHAVE=" + misbehave + " " TALVEX_SIMULATOR_PATH " " + args;
}

}  // namespace

// Only a good image with no misbehaviour installs; every other run leaves the
// dock's version as it was.
TEST(Simulator, ExitCodesAndTheDocksVersion)
{
    std::string dir = (fs::temp_directory_path() / "talvex-sim-XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    ::setenv("TALVEX_SIM_STATE", (dir + "/dock.state").c_str(), 1);
    ::setenv("TALVEX_SIM_PACE_MS", "0", 1);
    ::unsetenv("TALVEX_SIM_VERSION");
    std::ofstream(dir + "/notes.txt") << "release notes, not an image\n";
    const RunResult made = run(MAKE_FIRMWARE_IMAGE_PATH " --version 2.1.0 --out " + dir + "/good.bin");
    ASSERT_EQ(made.exitCode, 0) << made.output;
    const std::string upgrade = "-vid 21C4 -pid B070 -l v -i " + dir;
    // `line` must start a line of the output ("" asks for nothing).
    const struct {
        const char* misbehave;
        std::string args;
        int exitCode;
        bool completed;
        std::string line;
        const char* version;
    } cases[] = {
        {"", upgrade + "/good.bin", 0, true, "", "2.1.0"},
        {"", upgrade + "/absent.bin", 1, false, "Firmware update failed: cannot read image file", "1.0.3"},
        {"", upgrade + "/notes.txt", 1, false, "Firmware update failed: ", "1.0.3"},
        {"exit1", upgrade + "/good.bin", 1, false, "", "1.0.3"},
        {"fail-phrase-with-success", upgrade + "/good.bin", 0, true, "Firmware update failed: simulated\n", "1.0.3"},
        {"", "", 2, false, "usage: ", "1.0.3"},
        {"", "-vid 21C4 -pid B071 -v -l debug", 2, false, "usage: ", "1.0.3"},
        {"", "-vid 21C4 -pid B070 -v -l debug --force", 2, false, "usage: ", "1.0.3"},
        {"", "-vid 21C4 -pid B070 -v -l debug -i x.bin", 2, false, "usage: ", "1.0.3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.misbehave + (" " + c.args));
        fs::remove(dir + "/dock.state");
        const RunResult result = run(simulator(c.misbehave, c.args));
        EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
        EXPECT_TRUE(result.hasLineStarting(c.line)) << result.output;
        EXPECT_EQ(result.hasLineStarting("Firmware update completed\n"), c.completed) << result.output;
        const RunResult query = run(simulator("", "-vid 21C4 -pid B070 -v -l debug"));
        EXPECT_EQ(query.exitCode, 0);
        EXPECT_TRUE(query.hasLineStarting("Composite dock image version: " + std::string(c.version) + "\n"));
    }
    fs::remove_all(dir);
}

// outlive-reader: a tool that flashes on when its output is no longer read,
// as a real one in the middle of a flash. Only a SIGPIPE stops it.
TEST(Simulator, OutlivesItsReaderUnlessSigpipeStrikes)
{
    std::string dir = (fs::temp_directory_path() / "talvex-sim-XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    ::setenv("TALVEX_SIM_STATE", (dir + "/dock.state").c_str(), 1);
    ::setenv("TALVEX_SIM_PACE_MS", "20", 1);
    ASSERT_EQ(run(MAKE_FIRMWARE_IMAGE_PATH " --version 2.1.0 --out " + dir + "/good.bin").exitCode, 0);
    const std::string upgrade = simulator("outlive-reader", "-vid 21C4 -pid B070 -l v -i " + dir + "/good.bin");
    for (const bool ignored : {false, true}) {
        SCOPED_TRACE(ignored ? "SIGPIPE ignored" : "SIGPIPE as it comes");
        fs::remove(dir + "/dock.state");
        // The reader, `true`, is gone at once; the shell tells the tool's status.
        const RunResult result = run(std::string("bash -c '") + (ignored ? "trap \"\" PIPE; " : "") + upgrade
                                     + " | true; echo \"status ${PIPESTATUS[0]}\"'");
        EXPECT_EQ(result.output, ignored ? "status 0\n" : "status 141\n");
        const RunResult query = run(simulator("", "-vid 21C4 -pid B070 -v -l debug"));
        EXPECT_TRUE(query.hasLineStarting(std::string("Composite dock image version: ") + (ignored ? "2.1.0" : "1.0.3")));
    }
    fs::remove_all(dir);
}
