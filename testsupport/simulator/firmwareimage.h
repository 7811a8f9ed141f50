#pragma once

// Quorvale's own firmware image container. The simulated dock only accepts
// images in this form, so the app's upgrade path can be exercised with files
// that are cheap to generate and easy to corrupt in precise ways.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace talvexsim {

inline constexpr std::string_view kImageMagic{"QVFWIMG1", 8};
inline constexpr std::uint16_t kImageFormatVersion = 1;
inline constexpr std::size_t kImageHeaderSize = 28;
// Keeps a mistyped size or a stray huge file from being pulled into memory.
inline constexpr std::uint32_t kMaxPayloadLength = 64u * 1024u * 1024u;

// Byte offsets inside the header; every integer is little-endian.
namespace offsets {
inline constexpr std::size_t magic = 0;
inline constexpr std::size_t formatVersion = 8;   // u16
inline constexpr std::size_t headerSize = 10;     // u16
inline constexpr std::size_t versionMajor = 12;   // u16
inline constexpr std::size_t versionMinor = 14;   // u16
inline constexpr std::size_t versionPatch = 16;   // u16
inline constexpr std::size_t reserved = 18;       // u16, must be zero
inline constexpr std::size_t payloadLength = 20;  // u32
inline constexpr std::size_t payloadCrc = 24;     // u32
}  // namespace offsets

struct FirmwareVersion {
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t patch = 0;

    friend bool operator==(const FirmwareVersion&, const FirmwareVersion&) = default;
};

// Accepts exactly "MAJOR.MINOR.PATCH" in plain decimal without leading zeros,
// so that printing a parsed version gives back the text it came from.
std::optional<FirmwareVersion> parseVersion(std::string_view text);
std::string toString(FirmwareVersion version);

enum class ImageError {
    None,
    BadMagic,
    TruncatedHeader,
    UnsupportedFormatVersion,
    BadHeaderSize,
    ReservedNotZero,
    EmptyPayload,
    TruncatedPayload,
    TrailingData,
    CrcMismatch,
};
inline constexpr ImageError kAllImageErrors[] = {
    ImageError::None,
    ImageError::BadMagic,
    ImageError::TruncatedHeader,
    ImageError::UnsupportedFormatVersion,
    ImageError::BadHeaderSize,
    ImageError::ReservedNotZero,
    ImageError::EmptyPayload,
    ImageError::TruncatedPayload,
    ImageError::TrailingData,
    ImageError::CrcMismatch,
};

std::string_view describe(ImageError error);

struct DecodedImage {
    ImageError error = ImageError::None;
    // The fields below are filled in as far as decoding got, so a caller can
    // say *how* an image is wrong, not only that it is.
    std::uint16_t formatVersion = 0;
    std::uint16_t headerSize = 0;
    FirmwareVersion version;
    std::uint32_t payloadLength = 0;
    std::uint32_t declaredCrc = 0;
    std::uint32_t computedCrc = 0;
    std::span<const std::uint8_t> payload;  // points into the decoded buffer

    bool ok() const { return error == ImageError::None; }
};

// Same result as zlib's crc32(0, data, len).
std::uint32_t crc32(std::span<const std::uint8_t> bytes);

// Throws std::length_error if the payload is empty or exceeds kMaxPayloadLength.
std::vector<std::uint8_t> encodeImage(FirmwareVersion version, std::span<const std::uint8_t> payload);
DecodedImage decodeImage(std::span<const std::uint8_t> image);

// Deterministic filler so the same arguments always produce the same image.
std::vector<std::uint8_t> samplePayload(std::size_t size, std::uint64_t seed);

}  // namespace talvexsim
