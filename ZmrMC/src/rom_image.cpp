#include "rom_image.h"

#include "cabinet_reader.h"
#include "text_case.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace zmrmc {
namespace {

const char kImageEntry[] = "ROM.BIN";
const char kSignatureEntry[] = "ROM.SIG";

}  // namespace

bool IsLooseImagePath(const char* path) {
    size_t length = path != nullptr ? std::strlen(path) : 0;
    return length >= 4 && EqualsIgnoringCase(path + length - 4, ".BIN");
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::optional<std::vector<uint8_t>> result;
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    if (!(size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) && high == 0 && size <= kLargestRomFile) {
        try {
            std::vector<uint8_t> bytes(size);
            DWORD read = 0;
            if (size == 0 || (ReadFile(file, bytes.data(), size, &read, nullptr) && read == size))
                result = std::move(bytes);
        } catch (const std::bad_alloc&) {
        }
    }
    CloseHandle(file);
    return result;
}

RomImage ReadRomImage(const char* path) {
    RomImage rom;
    if (path == nullptr || *path == '\0') return rom;
    if (IsLooseImagePath(path)) {
        if (auto image = ReadWholeFile(path)) rom.image = std::move(*image);
        // The signature is the same name ending in ".SIG"; file names are case-sensitive here, so a ".SIG"
        // spelt in the image extension's letter case (".bin" and ".sig") is taken when there is no ".SIG".
        size_t stem = std::strlen(path) - 4;
        std::string signature = std::string(path, stem) + ".SIG";
        rom.signature = ReadWholeFile(signature.c_str());
        if (!rom.signature) {
            const char* extension = path + stem;
            for (size_t i = 1; i < 4; ++i) {
                char upper = ".SIG"[i];
                bool lower = extension[i] >= 'a' && extension[i] <= 'z';
                signature[stem + i] = lower ? static_cast<char>(upper - 'A' + 'a') : upper;
            }
            rom.signature = ReadWholeFile(signature.c_str());
        }
        return rom;
    }
    std::optional<std::vector<uint8_t>> cabinet = ReadWholeFile(path);
    if (!cabinet) return rom;
    std::optional<CabinetEntries> entries = ExtractCabinetEntries(*cabinet, {kImageEntry, kSignatureEntry});
    if (!entries) return rom;  // a failed copy keeps neither file
    if (auto image = entries->found.find(kImageEntry); image != entries->found.end())
        rom.image = std::move(image->second);
    if (auto signature = entries->found.find(kSignatureEntry); signature != entries->found.end())
        rom.signature = std::move(signature->second);
    return rom;
}

}  // namespace zmrmc
