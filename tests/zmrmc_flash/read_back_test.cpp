// When a read-back counts as the image written: byte-wise on the call gate (one 4096-byte block may differ where
// it still holds the saved contents), word-wise on the driver (the differing words within one block), and the
// gate's block checksum.

#include "driver_flash.h"
#include "native_flash.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Image() {
    Bytes b(0x10000);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 13 + 7);
    return b;
}

// The image with the bytes at `offsets` replaced by what `saved` holds there (or their complement).
Bytes Differing(const Bytes& image, std::initializer_list<size_t> offsets, const Bytes* saved = nullptr) {
    Bytes b = image;
    for (size_t at : offsets) b[at] = saved != nullptr ? (*saved)[at] : static_cast<uint8_t>(~b[at]);
    return b;
}

TEST(ReadBack, GateMatchesByteWise) {
    Bytes image = Image(), saved(image.size(), 0xEE);
    Bytes keptBlock = image;  // the firmware kept bytes 4100..8000 of its own (the saved contents)
    std::copy(saved.begin() + 4100, saved.begin() + 8001, keptBlock.begin() + 4100);
    struct {
        const char* what;
        Bytes readBack;
        bool withSaved, matches;
    } cases[] = {
        {"equal", image, true, true},
        {"one block differs, holding the saved bytes", keptBlock, true, true},
        {"one block differs, saved bytes only at its ends", Differing(image, {4096, 8191}, &saved), true, false},
        {"one block differs, not the saved bytes", Differing(image, {4096, 8191}), true, false},
        {"one block differs, no saved copy", Differing(image, {4096, 8191}), false, true},
        {"saved bytes in two blocks", Differing(image, {4095, 4096}, &saved), true, false},
        {"first and last byte of the image", Differing(image, {0, 0xFFFF}), false, false},
        {"shorter", Bytes(image.begin(), image.end() - 1), false, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(zmrmc::ReadBackMatches(c.readBack, image, c.withSaved ? &saved : nullptr), c.matches) << c.what;
}

TEST(ReadBack, DriverMatchesWordWiseWithinOneBlock) {
    Bytes image = Image();
    struct {
        const char* what;
        Bytes readBack;
        bool matches;
    } cases[] = {
        {"equal", image, true},
        {"words of one block", Differing(image, {8192, 9000, 12287}), true},
        {"words of two blocks", Differing(image, {12287, 12288}), false},
        {"first and last word", Differing(image, {0, 0xFFFC}), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(zmrmc::DriverReadBackMatches(c.readBack.data(), image.data(), image.size()), c.matches) << c.what;
}

TEST(ReadBack, BlockChecksumSumsLittleEndianWords) {
    const uint8_t bytes[] = {0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x01};
    EXPECT_EQ(zmrmc::BlockChecksum(bytes, 8), 0u);        // 1 + 0xFFFFFFFF wraps
    EXPECT_EQ(zmrmc::BlockChecksum(bytes, 10), 0x0102u);  // a last partial word padded with zeros
    EXPECT_EQ(zmrmc::BlockChecksum(bytes, 0), 0u);
}

TEST(ReadBack, OlderFirmwareGetsNoReadBack) {
    EXPECT_TRUE(zmrmc::ReadBackWanted(true, 0x2A10));
    EXPECT_FALSE(zmrmc::ReadBackWanted(false, 0x2A10));
    EXPECT_FALSE(zmrmc::ReadBackWanted(true, 0x06FF));
    EXPECT_FALSE(zmrmc::ReadBackWanted(true, 0x0810));
}

}  // namespace
