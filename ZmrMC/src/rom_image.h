// Where a ROM image comes from: a loose image whose name ends in ".BIN" (any case) beside its signature
// (the same name ending in ".SIG"), or a cabinet holding "ROM.BIN" and "ROM.SIG" (entry names ignoring case),
// read into memory and extracted there.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace zmrmc {

// The smallest image the flash accepts.
constexpr uint32_t kSmallestRomImage = 0x40000;
// The largest file read for an image, a signature or a cabinet; a larger one counts as unreadable.
constexpr uint32_t kLargestRomFile = 64u << 20;

struct RomImage {
    std::vector<uint8_t> image;                     // empty when there is none (missing or unreadable)
    std::optional<std::vector<uint8_t>> signature;  // none when missing or unreadable
};

// Whether `path` names a loose image: its last four characters are ".BIN", ignoring case.
bool IsLooseImagePath(const char* path);

// The image and signature `path` names (an ANSI path, Windows or host form). A file error, a cabinet that
// cannot be read whole, or a cabinet without "ROM.BIN" leaves no image.
RomImage ReadRomImage(const char* path);

// The whole file, or nothing when it cannot be opened or read, or is larger than kLargestRomFile.
std::optional<std::vector<uint8_t>> ReadWholeFile(const char* path);

}  // namespace zmrmc
