#include "firmwareimage.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <stdexcept>

namespace talvexsim {
namespace {

constexpr std::array<std::uint32_t, 256> makeCrcTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < table.size(); ++i) {
        std::uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1u) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        table[i] = c;
    }
    return table;
}
constexpr auto kCrcTable = makeCrcTable();

void putU16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t value)
{
    out[at] = static_cast<std::uint8_t>(value);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void putU32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint16_t getU16(std::span<const std::uint8_t> in, std::size_t at)
{
    return static_cast<std::uint16_t>(in[at] | (in[at + 1] << 8));
}

std::uint32_t getU32(std::span<const std::uint8_t> in, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(in[at + i]) << (8 * i);
    return value;
}

std::optional<std::uint16_t> parseComponent(std::string_view text)
{
    if (text.empty() || (text.size() > 1 && text.front() == '0'))
        return std::nullopt;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value > 0xFFFFu)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<FirmwareVersion> parseVersion(std::string_view text)
{
    const auto firstDot = text.find('.');
    if (firstDot == std::string_view::npos)
        return std::nullopt;
    const auto secondDot = text.find('.', firstDot + 1);
    if (secondDot == std::string_view::npos)
        return std::nullopt;
    const auto major = parseComponent(text.substr(0, firstDot));
    const auto minor = parseComponent(text.substr(firstDot + 1, secondDot - firstDot - 1));
    const auto patch = parseComponent(text.substr(secondDot + 1));
    if (!major || !minor || !patch)
        return std::nullopt;
    return FirmwareVersion{*major, *minor, *patch};
}

std::string toString(FirmwareVersion version)
{
    return std::to_string(version.major) + '.' + std::to_string(version.minor) + '.'
        + std::to_string(version.patch);
}

std::string_view describe(ImageError error)
{
    switch (error) {
    case ImageError::None: return "image is valid";
    case ImageError::BadMagic: return "bad magic, not a Quorvale firmware image";
    case ImageError::TruncatedHeader: return "truncated image header";
    case ImageError::UnsupportedFormatVersion: return "unsupported image format version";
    case ImageError::BadHeaderSize: return "unexpected image header size";
    case ImageError::ReservedNotZero: return "reserved header field is not zero";
    case ImageError::EmptyPayload: return "image has an empty payload";
    case ImageError::TruncatedPayload: return "payload shorter than the header declares";
    case ImageError::TrailingData: return "payload longer than the header declares";
    case ImageError::CrcMismatch: return "payload CRC-32 mismatch";
    }
    return "unknown image error";
}

std::uint32_t crc32(std::span<const std::uint8_t> bytes)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (const std::uint8_t b : bytes)
        c = kCrcTable[(c ^ b) & 0xFFu] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

std::vector<std::uint8_t> encodeImage(FirmwareVersion version, std::span<const std::uint8_t> payload)
{
    if (payload.empty() || payload.size() > kMaxPayloadLength)
        throw std::length_error("firmware payload must be 1 byte to 64 MiB");

    std::vector<std::uint8_t> image(kImageHeaderSize + payload.size());
    std::copy(kImageMagic.begin(), kImageMagic.end(), image.begin() + offsets::magic);
    putU16(image, offsets::formatVersion, kImageFormatVersion);
    putU16(image, offsets::headerSize, static_cast<std::uint16_t>(kImageHeaderSize));
    putU16(image, offsets::versionMajor, version.major);
    putU16(image, offsets::versionMinor, version.minor);
    putU16(image, offsets::versionPatch, version.patch);
    putU16(image, offsets::reserved, 0);
    putU32(image, offsets::payloadLength, static_cast<std::uint32_t>(payload.size()));
    putU32(image, offsets::payloadCrc, crc32(payload));
    std::copy(payload.begin(), payload.end(), image.begin() + kImageHeaderSize);
    return image;
}

DecodedImage decodeImage(std::span<const std::uint8_t> image)
{
    DecodedImage result;
    auto fail = [&result](ImageError error) {
        result.error = error;
        return result;
    };

    // Look at the magic before the length: a short file that is plainly
    // something else should be called that, not a "truncated" image.
    const std::size_t magicBytes = std::min(image.size(), kImageMagic.size());
    if (!std::equal(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(magicBytes),
                    kImageMagic.begin(),
                    [](std::uint8_t b, char m) { return b == static_cast<std::uint8_t>(m); }))
        return fail(ImageError::BadMagic);
    if (image.size() < kImageHeaderSize)
        return fail(ImageError::TruncatedHeader);

    result.formatVersion = getU16(image, offsets::formatVersion);
    if (result.formatVersion != kImageFormatVersion)
        return fail(ImageError::UnsupportedFormatVersion);
    result.headerSize = getU16(image, offsets::headerSize);
    if (result.headerSize != kImageHeaderSize)
        return fail(ImageError::BadHeaderSize);
    if (getU16(image, offsets::reserved) != 0)
        return fail(ImageError::ReservedNotZero);

    result.version = {getU16(image, offsets::versionMajor), getU16(image, offsets::versionMinor),
                      getU16(image, offsets::versionPatch)};
    result.payloadLength = getU32(image, offsets::payloadLength);
    result.declaredCrc = getU32(image, offsets::payloadCrc);
    if (result.payloadLength == 0)
        return fail(ImageError::EmptyPayload);

    const std::size_t available = image.size() - kImageHeaderSize;
    if (available < result.payloadLength)
        return fail(ImageError::TruncatedPayload);
    if (available > result.payloadLength)
        return fail(ImageError::TrailingData);

    result.payload = image.subspan(kImageHeaderSize);
    result.computedCrc = crc32(result.payload);
    if (result.computedCrc != result.declaredCrc) {
        result.payload = {};
        return fail(ImageError::CrcMismatch);
    }
    return result;
}

std::vector<std::uint8_t> samplePayload(std::size_t size, std::uint64_t seed)
{
    std::vector<std::uint8_t> bytes(size);
    std::uint64_t state = seed;
    for (std::size_t i = 0; i < size; i += 8) {
        // splitmix64: good spread from any seed, including zero.
        state += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        for (std::size_t k = 0; k < 8 && i + k < size; ++k)
            bytes[i + k] = static_cast<std::uint8_t>(z >> (8 * k));
    }
    return bytes;
}

}  // namespace talvexsim
