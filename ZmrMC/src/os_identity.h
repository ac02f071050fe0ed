// Operating-system identity: the system's version record, read once, and the three short codes firmware tools
// use (operating system, language, service release).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace zmrmc {

struct VersionInfo {
    uint32_t platform = 0;  // 1 = 9x family, 2 = NT family
    uint32_t major = 0;
    uint32_t minor = 0;
    std::string servicePack;  // "Service Pack 2"
};

// The version record, read the first time it is needed in this process and kept.
const VersionInfo& LoadedVersionInfo();

// What the codes are computed from.
struct OsFacts {
    VersionInfo version;
    bool wow64 = false;
    std::optional<uint16_t> nativeArchitecture;  // none when the native query is unavailable
    uint16_t language = 0;                       // system default language identifier
    // Reads a value under HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion (Windows 95 only); an empty optional
    // when the key cannot be opened, an empty text for a missing value.
    std::function<std::optional<std::string>(const char* name)> readCurrentVersion;
};

struct OsCodes {
    std::string os;              // "WINXP32P", "WIN2000", "NT40", ...
    std::string language;        // "US", "FC", ...
    std::string serviceRelease;  // "SP2", "OEM", "OSR2", ...
};

OsCodes ComputeOsCodes(const OsFacts& facts);
// The facts of the running system.
OsFacts CurrentOsFacts();
const char* LanguageCode(uint16_t languageId);

}  // namespace zmrmc
