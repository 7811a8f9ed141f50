#include "firmwareimage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>

using namespace talvexsim;

namespace {

std::vector<std::uint8_t> bytesOf(std::string_view text)
{
    return {text.begin(), text.end()};
}

void setU16(std::vector<std::uint8_t>& image, std::size_t at, std::uint16_t value)
{
    image[at] = static_cast<std::uint8_t>(value);
    image[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

TEST(FirmwareImage, Crc32AgreesWithZlib)
{
    // The standard check value pins polynomial, bit order and final xor, so
    // an image made here verifies with any zlib-based tool and vice versa.
    EXPECT_EQ(crc32(bytesOf("123456789")), 0xCBF43926u);
    EXPECT_EQ(crc32({}), 0u);
}

TEST(FirmwareImage, HeaderBytesAreStable)
{
    // Images written by one build must stay readable by the next, so the
    // layout is pinned byte for byte rather than checked by round trip only.
    const auto image = encodeImage({2, 1, 0x0102}, bytesOf("abc"));
    const std::vector<std::uint8_t> expected = {
        'Q', 'V', 'F', 'W', 'I', 'M', 'G', '1',  // magic
        0x01, 0x00, 0x1C, 0x00,                  // format 1, header 28 bytes
        0x02, 0x00, 0x01, 0x00, 0x02, 0x01,      // version 2.1.258
        0x00, 0x00,                              // reserved
        0x03, 0x00, 0x00, 0x00,                  // payload length
        0xC2, 0x41, 0x24, 0x35,                  // crc32("abc") = 0x352441C2
        'a', 'b', 'c',
    };
    EXPECT_EQ(image, expected);
}

TEST(FirmwareImage, RoundTripKeepsVersionAndPayload)
{
    struct Case {
        const char* name;
        FirmwareVersion version;
        std::size_t payloadSize;
    };
    const Case cases[] = {
        {"smallest payload", {0, 0, 0}, 1},
        {"typical image", {2, 1, 0}, 64 * 1024},
        {"largest version numbers", {65535, 65535, 65535}, 1000},
        {"length not a multiple of the filler's word", {1, 0, 4}, 13},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto payload = samplePayload(c.payloadSize, 42);
        const auto image = encodeImage(c.version, payload);
        const DecodedImage decoded = decodeImage(image);
        ASSERT_TRUE(decoded.ok()) << describe(decoded.error);
        EXPECT_EQ(decoded.version, c.version);
        EXPECT_TRUE(std::ranges::equal(decoded.payload, payload));
    }
}

TEST(FirmwareImage, EachDefectIsRejectedForItsOwnReason)
{
    using Corrupt = std::function<void(std::vector<std::uint8_t>&)>;
    struct Case {
        const char* name;
        Corrupt corrupt;
        ImageError expected;
    };
    const Case cases[] = {
        {"empty file", [](auto& img) { img.clear(); }, ImageError::TruncatedHeader},
        {"cut inside the magic", [](auto& img) { img.resize(5); }, ImageError::TruncatedHeader},
        {"cut inside the header", [](auto& img) { img.resize(kImageHeaderSize - 1); },
         ImageError::TruncatedHeader},
        {"wrong magic", [](auto& img) { img[3] = 'X'; }, ImageError::BadMagic},
        {"short foreign file", [](auto& img) { img = bytesOf("MZ"); }, ImageError::BadMagic},
        {"newer format", [](auto& img) { setU16(img, offsets::formatVersion, 2); },
         ImageError::UnsupportedFormatVersion},
        {"format zero", [](auto& img) { setU16(img, offsets::formatVersion, 0); },
         ImageError::UnsupportedFormatVersion},
        {"header size", [](auto& img) { setU16(img, offsets::headerSize, 32); }, ImageError::BadHeaderSize},
        {"reserved field", [](auto& img) { setU16(img, offsets::reserved, 1); }, ImageError::ReservedNotZero},
        {"zero length",
         [](auto& img) {
             img.resize(kImageHeaderSize);
             std::fill_n(img.begin() + offsets::payloadLength, 4, 0);
         },
         ImageError::EmptyPayload},
        {"payload cut short", [](auto& img) { img.pop_back(); }, ImageError::TruncatedPayload},
        {"length field too large", [](auto& img) { img[offsets::payloadLength] += 1; },
         ImageError::TruncatedPayload},
        {"bytes after the payload", [](auto& img) { img.push_back(0); }, ImageError::TrailingData},
        {"payload byte changed", [](auto& img) { img[kImageHeaderSize + 7] ^= 0x01; }, ImageError::CrcMismatch},
        {"checksum field changed", [](auto& img) { img[offsets::payloadCrc + 3] ^= 0x80; },
         ImageError::CrcMismatch},
    };
    const auto good = encodeImage({2, 1, 0}, samplePayload(300, 1));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = good;
        c.corrupt(image);
        const DecodedImage decoded = decodeImage(image);
        EXPECT_EQ(decoded.error, c.expected) << describe(decoded.error);
        EXPECT_TRUE(decoded.payload.empty());
    }
}

TEST(FirmwareImage, ReasonsAreDistinct)
{
    // The simulator reports these to the app; two defects with one message
    // could not be told apart in a failing test's log.
    std::set<std::string_view> seen;
    for (const ImageError error : kAllImageErrors)
        EXPECT_TRUE(seen.insert(describe(error)).second) << describe(error);
}

TEST(FirmwareImage, VersionTextIsStrictDottedDecimal)
{
    struct Case {
        const char* text;
        std::optional<FirmwareVersion> expected;
    };
    const Case cases[] = {
        {"2.1.0", FirmwareVersion{2, 1, 0}},
        {"0.0.0", FirmwareVersion{0, 0, 0}},
        {"65535.10.200", FirmwareVersion{65535, 10, 200}},
        {"65536.0.0", std::nullopt},
        {"2.1", std::nullopt},
        {"2.1.0.4", std::nullopt},
        {"2..0", std::nullopt},
        {"2.1.", std::nullopt},
        {"02.1.0", std::nullopt},
        {"+2.1.0", std::nullopt},
        {" 2.1.0", std::nullopt},
        {"2.1.0b", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseVersion(c.text), c.expected);
        if (c.expected) {
            EXPECT_EQ(toString(*c.expected), c.text);
        }
    }
}
