// Stand-in for the dock maker's Talvex_Firmware_Update tool. Quorvale's tests
// put this beside the program so the whole upgrade path (spawning, streaming
// the log, reading the outcome, re-querying the version) runs without a dock.
// Environment variables steer the simulated dock and make the tool misbehave
// in the ways a real one might, so the app's handling of those can be tested.

#include "firmwareimage.h"
#include "simfiles.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using namespace talvexsim;

constexpr std::string_view kDockVid = "21C4";
constexpr std::string_view kDockPid = "B070";
constexpr std::string_view kBanner = "Talvex Firmware Update 3.8.2 (simulated)";
constexpr std::string_view kDefaultVersion = "1.0.3";
constexpr std::string_view kUsage =
    "usage: Talvex_Firmware_Update -vid VID -pid PID (-v | -i IMAGE) -l LEVEL";
constexpr int kWriteBlocks = 8;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// A test set the simulator up wrongly; kept apart from the tool's own codes so
// such a mistake cannot pass for an expected outcome.
constexpr int kExitHarness = 3;

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct HarnessError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct ExitNow {
    int code;
};

enum class Misbehaviour {
    None,
    Hang,
    SigKill,
    SigSegv,
    Garbage,
    Flood,
    Silent,
    Exit1,
    Orphan,
    FailPhraseWithSuccess,
    TermSuccess,
    Controls,
    OutliveReader,
};

struct Settings {
    std::string statePath;
    std::string initialVersion{kDefaultVersion};
    unsigned paceMs = 300;
    Misbehaviour misbehaviour = Misbehaviour::None;
    unsigned floodMb = 8;
    unsigned orphanSeconds = 30;
};

enum class Mode { Query, Upgrade };

struct Invocation {
    Mode mode = Mode::Query;
    std::string imagePath;
};

// Set for TALVEX_SIM_MISBEHAVE=outlive-reader: a tool in the middle of a
// flash that goes on when nobody reads its output any more.
bool g_writeOn = false;

// Output is unbuffered on purpose (writeFully): stdout and stderr share one
// pipe, and the reader streams it, so every line must leave the process in
// order as it is made.
void writeAll(int fd, std::string_view bytes)
{
    if (!writeFully(fd, bytes) && !g_writeOn)
        throw ExitNow{kExitHarness};  // the reader is gone: nobody left to tell
}

// Whether a SIGPIPE has come and waits, blocked: with the default action it
// would have ended the process instead.
bool sigpipePending()
{
    sigset_t pending;
    return ::sigpending(&pending) == 0 && ::sigismember(&pending, SIGPIPE) == 1;
}

[[noreturn]] void dieBySegfault()
{
    // The default action has to be back in place, or a sanitizer's handler
    // would turn the crash into an ordinary exit. No core file: tests run
    // this on purpose and should not litter.
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::signal(SIGSEGV, SIG_DFL);
    ::raise(SIGSEGV);
    std::abort();
}

[[noreturn]] void dieByKill()
{
    ::raise(SIGKILL);
    std::abort();
}

void sleepFor(std::chrono::milliseconds duration)
{
    if (duration.count() > 0)
        std::this_thread::sleep_for(duration);
}

class Console {
public:
    explicit Console(Misbehaviour misbehaviour)
        : m_misbehaviour(misbehaviour)
    {
    }

    void out(std::string_view line) { emit(STDOUT_FILENO, line); }
    void err(std::string_view line) { emit(STDERR_FILENO, line); }

private:
    void emit(int fd, std::string_view line)
    {
        if (m_misbehaviour == Misbehaviour::Garbage && m_lines % 2 == 0)
            writeAll(STDOUT_FILENO, kGarbage[(m_lines / 2) % std::size(kGarbage)]);

        std::string buffer(line);
        buffer += '\n';
        writeAll(fd, buffer);

        // Dying a couple of lines in looks like a crash mid-operation, which is
        // what the reader has to cope with.
        if (++m_lines == 2) {
            if (m_misbehaviour == Misbehaviour::SigKill)
                dieByKill();
            if (m_misbehaviour == Misbehaviour::SigSegv)
                dieBySegfault();
        }
    }

    // Each line breaks UTF-8 in a different way; string literals are split
    // where a letter after an escape would otherwise be read as a hex digit.
    static constexpr std::string_view kGarbage[] = {
        "\xFF\xFE usb: stray descriptor bytes\n",
        "Versi\xF3n del firmware le\xED" "da desde el dispositivo\n",
        "\x80\x81\xBF lone continuation bytes\n",
        "overlong slash \xC0\xAF" " and encoded surrogate \xED\xA0\x80\n",
        "sequence cut short \xE2\x82\n",
    };

    Misbehaviour m_misbehaviour;
    unsigned m_lines = 0;
};

std::optional<std::string> env(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

unsigned envUnsigned(const char* name, unsigned fallback, unsigned max)
{
    const auto text = env(name);
    if (!text)
        return fallback;
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text->c_str(), &end, 10);
    if (text->empty() || *end != '\0' || errno != 0 || value > max || text->front() == '-')
        throw HarnessError(std::string(name) + " must be a whole number from 0 to "
                           + std::to_string(max) + ", not '" + *text + "'");
    return static_cast<unsigned>(value);
}

Misbehaviour parseMisbehaviour(const std::optional<std::string>& text)
{
    if (!text || text->empty())
        return Misbehaviour::None;
    static constexpr std::pair<std::string_view, Misbehaviour> kNames[] = {
        {"hang", Misbehaviour::Hang},
        {"sigkill", Misbehaviour::SigKill},
        {"sigsegv", Misbehaviour::SigSegv},
        {"garbage", Misbehaviour::Garbage},
        {"flood", Misbehaviour::Flood},
        {"silent", Misbehaviour::Silent},
        {"exit1", Misbehaviour::Exit1},
        {"orphan", Misbehaviour::Orphan},
        {"fail-phrase-with-success", Misbehaviour::FailPhraseWithSuccess},
        {"term-success", Misbehaviour::TermSuccess},
        {"controls", Misbehaviour::Controls},
        {"outlive-reader", Misbehaviour::OutliveReader},
    };
    for (const auto& [name, value] : kNames) {
        if (*text == name)
            return value;
    }
    throw HarnessError("unknown TALVEX_SIM_MISBEHAVE value '" + *text + "'");
}

Settings loadSettings()
{
    Settings settings;
    settings.statePath = env("TALVEX_SIM_STATE").value_or("");
    if (const auto version = env("TALVEX_SIM_VERSION"); version && !version->empty())
        settings.initialVersion = *version;
    settings.paceMs = envUnsigned("TALVEX_SIM_PACE_MS", settings.paceMs, 60'000);
    settings.misbehaviour = parseMisbehaviour(env("TALVEX_SIM_MISBEHAVE"));
    settings.floodMb = envUnsigned("TALVEX_SIM_FLOOD_MB", settings.floodMb, 1024);
    settings.orphanSeconds = envUnsigned("TALVEX_SIM_ORPHAN_SECONDS", settings.orphanSeconds, 3600);
    return settings;
}

// Written with a single append so records from tools started in parallel do
// not interleave.
void logArguments(std::span<char* const> args)
{
    const auto logPath = env("TALVEX_SIM_ARGS_LOG");
    if (!logPath)
        return;
    std::string record;
    for (const char* arg : args) {
        record += arg;
        record += '\n';
    }
    record += '\n';
    const int fd = ::open(logPath->c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        throw HarnessError("cannot open TALVEX_SIM_ARGS_LOG " + *logPath);
    const ssize_t written = ::write(fd, record.data(), record.size());
    ::close(fd);
    if (written != static_cast<ssize_t>(record.size()))
        throw HarnessError("cannot write TALVEX_SIM_ARGS_LOG " + *logPath);
}

bool isUsbId(std::string_view text)
{
    if (text.size() != 4)
        return false;
    for (const char c : text) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex)
            return false;
    }
    return true;
}

bool sameUsbId(std::string_view a, std::string_view b)
{
    auto upper = [](char c) { return (c >= 'a' && c <= 'f') ? static_cast<char>(c - 'a' + 'A') : c; };
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (upper(a[i]) != upper(b[i]))
            return false;
    }
    return true;
}

Invocation parseArguments(std::span<char* const> args)
{
    std::optional<std::string> vid, pid, image, level;
    bool versionQuery = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        auto takeValue = [&](std::optional<std::string>& slot) {
            if (slot)
                throw UsageError("option " + std::string(arg) + " given twice");
            if (i + 1 >= args.size())
                throw UsageError("option " + std::string(arg) + " needs a value");
            slot = args[++i];
        };
        if (arg == "-vid") {
            takeValue(vid);
        } else if (arg == "-pid") {
            takeValue(pid);
        } else if (arg == "-i") {
            takeValue(image);
        } else if (arg == "-l") {
            takeValue(level);
        } else if (arg == "-v") {
            if (versionQuery)
                throw UsageError("option -v given twice");
            versionQuery = true;
        } else {
            throw UsageError("unknown argument '" + std::string(arg) + "'");
        }
    }

    if (!vid || !pid)
        throw UsageError("both -vid and -pid are required");
    if (!isUsbId(*vid) || !isUsbId(*pid))
        throw UsageError("-vid and -pid take four hex digits");
    if (!level)
        throw UsageError("missing -l LEVEL");
    if (*level != "error" && *level != "warn" && *level != "info" && *level != "v" && *level != "debug")
        throw UsageError("unknown log level '" + *level + "' (error, warn, info, v, debug)");
    if (versionQuery && image)
        throw UsageError("-v and -i cannot be combined");
    if (!versionQuery && !image)
        throw UsageError("nothing to do: give -v or -i IMAGE");
    if (image && image->empty())
        throw UsageError("-i needs a file name");
    if (!sameUsbId(*vid, kDockVid) || !sameUsbId(*pid, kDockPid))
        throw UsageError("no device " + *vid + ":" + *pid + " found on the USB bus");

    Invocation invocation;
    invocation.mode = versionQuery ? Mode::Query : Mode::Upgrade;
    invocation.imagePath = image.value_or("");
    return invocation;
}

std::string trimmedFirstLine(const std::vector<std::uint8_t>& bytes)
{
    std::string text(bytes.begin(), bytes.end());
    text = text.substr(0, text.find('\n'));
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && isSpace(text.back()))
        text.pop_back();
    std::size_t start = 0;
    while (start < text.size() && isSpace(text[start]))
        ++start;
    return text.substr(start);
}

std::string currentVersion(const Settings& settings)
{
    if (settings.statePath.empty())
        return settings.initialVersion;
    const FileContents state = readWholeFile(settings.statePath, 4096);
    if (state.error == ENOENT)
        return settings.initialVersion;
    if (!state.ok())
        throw HarnessError("cannot read TALVEX_SIM_STATE " + settings.statePath + ": " + state.message);
    std::string version = trimmedFirstLine(state.bytes);
    return version.empty() ? settings.initialVersion : version;
}

[[noreturn]] void sleepForever()
{
    for (;;)
        ::pause();
}

// Says nothing until asked to stop, then claims success and exits 0, as a
// tool might that reports on its way out whatever state it was in.
[[noreturn]] void claimSuccessOnTerm()
{
    struct sigaction action = {};
    action.sa_handler = [](int) {
        static constexpr char kClaim[] = "Firmware update completed\n";
        [[maybe_unused]] const ssize_t n = ::write(STDOUT_FILENO, kClaim, sizeof kClaim - 1);
        ::_exit(0);
    };
    ::sigaction(SIGTERM, &action, nullptr);
    sleepForever();
}

// The child holds our end of the pipe after we are gone, as a helper process
// forked by a real tool might. It exits when its time is up and never writes.
void forkLingeringChild(unsigned seconds)
{
    const pid_t child = ::fork();
    if (child < 0)
        throw HarnessError("fork failed for TALVEX_SIM_MISBEHAVE=orphan");
    if (child > 0)
        return;
    timespec remaining{static_cast<time_t>(seconds), 0};
    while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
    ::_exit(0);
}

void flood(unsigned megabytes)
{
    const std::size_t target = static_cast<std::size_t>(megabytes) * 1024 * 1024;
    std::size_t written = 0;
    unsigned sequence = 0;
    std::string chunk;
    char line[128];
    while (written < target) {
        chunk.clear();
        while (chunk.size() < 64 * 1024) {
            const int n = std::snprintf(line, sizeof line,
                                        "[debug] usb: bulk IN ep 0x81 seq %08u len 512 status 0 "
                                        "data 5a a5 3c c3 %02x %02x\n",
                                        sequence, sequence & 0xFFu, (sequence >> 8) & 0xFFu);
            chunk.append(line, static_cast<std::size_t>(n));
            ++sequence;
        }
        writeAll(STDOUT_FILENO, chunk);
        written += chunk.size();
    }
}

int runQuery(Console& console, const Settings& settings)
{
    const std::string version = currentVersion(settings);
    console.out("[debug] " + std::string(kBanner));
    console.out("[debug] Log level set to debug");
    console.out("[debug] Scanning USB bus for " + std::string(kDockVid) + ":" + std::string(kDockPid) + " ...");
    console.out("[debug] Found device " + std::string(kDockVid) + ":" + std::string(kDockPid)
                + " at bus 3 port 2 (path 3-2.1)");
    console.out("[debug] Claiming interface 2 (vendor class) ...");
    console.out("[debug] Reading composite image header ...");
    console.out("Composite dock image version: " + version);
    return settings.misbehaviour == Misbehaviour::Exit1 ? kExitFailed : 0;
}

[[noreturn]] void failUpgrade(Console& console, const std::string& reason)
{
    console.err("Firmware update failed: " + reason);
    throw ExitNow{kExitFailed};
}

std::string hex32(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::string explain(const DecodedImage& image)
{
    std::string reason(describe(image.error));
    switch (image.error) {
    case ImageError::UnsupportedFormatVersion:
        return reason + " (" + std::to_string(image.formatVersion) + ")";
    case ImageError::BadHeaderSize:
        return reason + " (" + std::to_string(image.headerSize) + " bytes)";
    case ImageError::TruncatedPayload:
    case ImageError::TrailingData:
        return reason + " (" + std::to_string(image.payloadLength) + " bytes declared)";
    case ImageError::CrcMismatch:
        return reason + " (header " + hex32(image.declaredCrc) + ", computed " + hex32(image.computedCrc) + ")";
    default:
        return reason;
    }
}

int runUpgrade(Console& console, const Settings& settings, const std::string& imagePath)
{
    const std::string before = currentVersion(settings);
    const auto pace = [&settings] { sleepFor(std::chrono::milliseconds(settings.paceMs)); };

    console.out(kBanner);
    console.out("Scanning USB bus for " + std::string(kDockVid) + ":" + std::string(kDockPid) + " ...");
    console.out("Found device " + std::string(kDockVid) + ":" + std::string(kDockPid) + " at bus 3 port 2");
    console.out("Installed firmware: " + before);

    const FileContents file = readWholeFile(imagePath, kImageHeaderSize + kMaxPayloadLength);
    if (!file.ok())
        failUpgrade(console, "cannot read image file " + imagePath + ": " + file.message);
    console.out("Image file: " + imagePath + " (" + std::to_string(file.bytes.size()) + " bytes)");

    const DecodedImage image = decodeImage(file.bytes);
    if (!image.ok())
        failUpgrade(console, explain(image));
    const std::string target = toString(image.version);
    console.out("Image version " + target + ", payload " + std::to_string(image.payloadLength)
                + " bytes, CRC-32 " + hex32(image.declaredCrc) + " OK");

    pace();
    console.out("Entering bootloader ...");
    pace();
    console.out("Erasing flash ...");
    for (int block = 1; block <= kWriteBlocks; ++block) {
        pace();
        console.out("Writing block " + std::to_string(block) + "/" + std::to_string(kWriteBlocks) + " ("
                    + std::to_string(block * 100 / kWriteBlocks) + "%)");
    }
    pace();
    console.out("Verifying ...");
    pace();
    console.out("Activating new image ...");

    if (settings.misbehaviour == Misbehaviour::Exit1) {
        console.err("Error: device did not come back after activation");
        return kExitFailed;
    }
    if (settings.misbehaviour == Misbehaviour::FailPhraseWithSuccess) {
        // Contradictory output leaves the dock's state unknown, so the
        // simulated dock keeps its old version.
        console.err("Firmware update failed: simulated");
        console.out("Firmware update completed");
        return 0;
    }

    if (!settings.statePath.empty()) {
        const std::string text = target + "\n";
        const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        if (const std::string error = writeFileAtomically(settings.statePath, bytes); !error.empty())
            failUpgrade(console, "cannot record the new version: " + error);
    }
    console.out("Firmware update completed");
    return 0;
}

int run(std::span<char* const> args)
{
    logArguments(args);
    const Settings settings = loadSettings();
    const Invocation invocation = parseArguments(args);

    switch (settings.misbehaviour) {
    case Misbehaviour::Hang:
        sleepForever();
    case Misbehaviour::Silent:
        return 0;
    case Misbehaviour::TermSuccess:
        claimSuccessOnTerm();
    case Misbehaviour::Controls: {
        // A window title, a cleared screen, a bell and a NUL, and nothing else.
        static constexpr char kControls[] = "\x1B]0;owned\x07\x1B[2J\0 screen cleared\n";
        writeAll(STDOUT_FILENO, std::string_view(kControls, sizeof kControls - 1));
        return 0;
    }
    case Misbehaviour::Orphan:
        forkLingeringChild(settings.orphanSeconds);
        break;
    case Misbehaviour::Flood:
        flood(settings.floodMb);
        break;
    case Misbehaviour::OutliveReader:
        g_writeOn = true;
        break;
    default:
        break;
    }

    Console console(settings.misbehaviour);
    const int status = invocation.mode == Mode::Query ? runQuery(console, settings)
                                                      : runUpgrade(console, settings, invocation.imagePath);
    // Success only if writing to a pipe nobody reads cost nothing but failed writes.
    return g_writeOn && sigpipePending() ? kExitHarness : status;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::span<char* const> args(argv + (argc > 0 ? 1 : 0), argc > 0 ? static_cast<std::size_t>(argc - 1) : 0);
    try {
        return run(args);
    } catch (const UsageError& error) {
        writeFully(STDERR_FILENO, "error: " + std::string(error.what()) + "\n" + std::string(kUsage) + "\n");
        return kExitUsage;
    } catch (const HarnessError& error) {
        writeFully(STDERR_FILENO, "Talvex simulator: " + std::string(error.what()) + "\n");
        return kExitHarness;
    } catch (const ExitNow& exit) {
        return exit.code;
    }
}
