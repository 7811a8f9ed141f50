#include "firmwareimage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string_view>
#include <tuple>
#include <vector>

using namespace talvexsim;

// The untouched image decodes to what was put in; each defect is rejected for
// its own reason. Distinct, wide version fields catch swapped or narrowed
// parts; an odd payload length catches a filler that only writes whole words.
TEST(FirmwareImage, DecodesGoodImagesAndRejectsEachDefect)
{
    // The standard check value pins polynomial, bit order and final xor.
    constexpr std::string_view check = "123456789";
    EXPECT_EQ(crc32(std::vector<std::uint8_t>(check.begin(), check.end())), 0xCBF43926u);

    // The u16 fields are little-endian and their values small: the low byte sets them.
    using Corrupt = std::function<void(std::vector<std::uint8_t>&)>;
    const std::tuple<const char*, Corrupt, ImageError> cases[] = {
        {"untouched", [](auto&) {}, ImageError::None},
        {"empty file", [](auto& img) { img.clear(); }, ImageError::TruncatedHeader},
        {"cut inside the header", [](auto& img) { img.resize(kImageHeaderSize - 1); }, ImageError::TruncatedHeader},
        {"wrong magic", [](auto& img) { img[3] = 'X'; }, ImageError::BadMagic},
        {"newer format", [](auto& img) { img[offsets::formatVersion] = 2; }, ImageError::UnsupportedFormatVersion},
        {"header size", [](auto& img) { img[offsets::headerSize] = 32; }, ImageError::BadHeaderSize},
        {"reserved field", [](auto& img) { img[offsets::reserved] = 1; }, ImageError::ReservedNotZero},
        {"zero length",
         [](auto& img) { img.resize(kImageHeaderSize); std::fill_n(img.begin() + offsets::payloadLength, 4, 0); },
         ImageError::EmptyPayload},
        {"payload cut short", [](auto& img) { img.pop_back(); }, ImageError::TruncatedPayload},
        {"bytes after the payload", [](auto& img) { img.push_back(0); }, ImageError::TrailingData},
        {"payload byte changed", [](auto& img) { img[kImageHeaderSize + 7] ^= 0x01; }, ImageError::CrcMismatch},
        {"checksum field changed", [](auto& img) { img[offsets::payloadCrc + 3] ^= 0x80; }, ImageError::CrcMismatch},
    };
    const FirmwareVersion version{65535, 258, 7};
    const auto payload = samplePayload(301, 1);
    const auto good = encodeImage(version, payload);
    for (const auto& [name, corrupt, expected] : cases) {
        SCOPED_TRACE(name);
        auto image = good;
        corrupt(image);
        const DecodedImage decoded = decodeImage(image); // the payload points into `image`
        EXPECT_EQ(decoded.error, expected) << describe(decoded.error);
        if (decoded.ok()) {
            EXPECT_EQ(decoded.version, version);
            EXPECT_TRUE(std::ranges::equal(decoded.payload, payload));
        } else {
            EXPECT_TRUE(decoded.payload.empty());
        }
    }
}
