// Writes sample firmware images for the simulated dock: valid ones, or with
// --corrupt one whose checksum no longer matches, to drive the failure path.

#include "firmwareimage.h"
#include "simfiles.h"

#include <cstdio>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

using namespace talvexsim;

constexpr std::string_view kUsage =
    "usage: make_firmware_image --version X.Y.Z --out PATH [--payload-size BYTES] [--corrupt]";
constexpr std::size_t kDefaultPayloadSize = 64 * 1024;

struct Options {
    FirmwareVersion version;
    std::string out;
    std::size_t payloadSize = kDefaultPayloadSize;
    bool corrupt = false;
};

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::size_t parsePayloadSize(std::string_view text)
{
    std::size_t value = 0;
    if (text.empty() || text.size() > 10)
        throw UsageError("--payload-size takes a number of bytes, not '" + std::string(text) + "'");
    for (const char c : text) {
        if (c < '0' || c > '9')
            throw UsageError("--payload-size takes a number of bytes, not '" + std::string(text) + "'");
        value = value * 10 + static_cast<std::size_t>(c - '0');
    }
    if (value == 0 || value > kMaxPayloadLength)
        throw UsageError("--payload-size must be from 1 to " + std::to_string(kMaxPayloadLength));
    return value;
}

Options parseOptions(std::span<char* const> args)
{
    Options options;
    bool haveVersion = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        auto value = [&]() -> std::string_view {
            if (i + 1 >= args.size())
                throw UsageError(std::string(arg) + " needs a value");
            return args[++i];
        };
        if (arg == "--version") {
            const std::string_view text = value();
            const auto version = parseVersion(text);
            if (!version)
                throw UsageError("--version takes MAJOR.MINOR.PATCH, not '" + std::string(text) + "'");
            options.version = *version;
            haveVersion = true;
        } else if (arg == "--out") {
            options.out = value();
        } else if (arg == "--payload-size") {
            options.payloadSize = parsePayloadSize(value());
        } else if (arg == "--corrupt") {
            options.corrupt = true;
        } else {
            throw UsageError("unknown argument '" + std::string(arg) + "'");
        }
    }
    if (!haveVersion)
        throw UsageError("--version is required");
    if (options.out.empty())
        throw UsageError("--out is required");
    return options;
}

std::uint64_t seedFor(FirmwareVersion version)
{
    return (std::uint64_t{version.major} << 32) | (std::uint64_t{version.minor} << 16) | version.patch;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::span<char* const> args(argv + (argc > 0 ? 1 : 0), argc > 0 ? static_cast<std::size_t>(argc - 1) : 0);
    Options options;
    try {
        options = parseOptions(args);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "make_firmware_image: %s\n%.*s\n", error.what(), static_cast<int>(kUsage.size()),
                     kUsage.data());
        return 2;
    }

    const auto payload = samplePayload(options.payloadSize, seedFor(options.version));
    auto image = encodeImage(options.version, payload);
    if (options.corrupt) {
        // One changed byte is always caught by CRC-32, whatever the payload.
        image[kImageHeaderSize + options.payloadSize / 2] ^= 0x5A;
    }

    if (const std::string error = writeFileAtomically(options.out, image); !error.empty()) {
        std::fprintf(stderr, "make_firmware_image: %s\n", error.c_str());
        return 1;
    }
    std::printf("wrote %s: version %s, payload %zu bytes, CRC-32 0x%08X%s\n", options.out.c_str(),
                toString(options.version).c_str(), options.payloadSize, crc32(payload),
                options.corrupt ? " (payload corrupted after checksumming)" : "");
    return 0;
}
