#include "os_identity.h"

#include <windows.h>

#include <cctype>
#include <cstdio>

namespace zmrmc {
namespace {

struct LanguageEntry {
    uint16_t id;
    const char* code;
};

// Searched in order; the first entry with the identifier wins, the final entry (0) is the default.
const LanguageEntry kLanguages[] = {
    {0x0404, "TW"}, {0x0804, "CH"}, {0x1004, "CH"}, {0x0405, "CS"}, {0x0406, "DK"}, {0x0413, "NL"}, {0x0813, "NL"},
    {0x0409, "US"}, {0x0809, "US"}, {0x0C09, "US"}, {0x1009, "US"}, {0x1409, "US"}, {0x1809, "US"}, {0x040B, "FI"},
    {0x040C, "FR"}, {0x080C, "FR"}, {0x0C0C, "FC"}, {0x100C, "FR"}, {0x0407, "GR"}, {0x0807, "GR"}, {0x0C07, "GR"},
    {0x0408, "GK"}, {0x040E, "HU"}, {0x040F, "US"}, {0x0410, "IT"}, {0x0810, "IT"}, {0x0411, "JP"}, {0x0412, "KR"},
    {0x0812, "KR"}, {0x0414, "NO"}, {0x0814, "NO"}, {0x0415, "PL"}, {0x0416, "BR"}, {0x0816, "PT"}, {0x0419, "RU"},
    {0x0819, "RU"}, {0x041B, "SK"}, {0x040A, "SP"}, {0x080A, "SP"}, {0x0C0A, "SP"}, {0x100A, "SP"}, {0x140A, "SP"},
    {0x180A, "SP"}, {0x1C0A, "SP"}, {0x200A, "SP"}, {0x240A, "SP"}, {0x280A, "SP"}, {0x2C0A, "SP"}, {0x300A, "SP"},
    {0x340A, "SP"}, {0x380A, "SP"}, {0x3C0A, "SP"}, {0x400A, "SP"}, {0x041D, "SE"}, {0x041E, "TH"}, {0x041F, "TR"},
    {0, "US"}};

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string Windows95Release(const OsFacts& facts) {
    if (!facts.readCurrentVersion) return "OEM";
    std::optional<std::string> sub = facts.readCurrentVersion("SubVersionNumber");
    if (!sub) return "OEM";
    std::string value = Trim(sub->substr(0, 10));
    if (value == "A") return "OSR1";
    if (value == "C") return "OSR25";
    if (value == "B")
        return Trim(facts.readCurrentVersion("VersionNumber").value_or("")) == "4.00.1111" ? "OSR2" : "OSR21";
    return "OEM";
}

}  // namespace

const char* LanguageCode(uint16_t languageId) {
    for (const auto& entry : kLanguages)
        if (entry.id == languageId || entry.id == 0) return entry.code;
    return "US";
}

OsCodes ComputeOsCodes(const OsFacts& f) {
    OsCodes codes;
    codes.language = LanguageCode(f.language);
    const VersionInfo& v = f.version;
    if (v.platform == VER_PLATFORM_WIN32_WINDOWS) {
        codes.serviceRelease = "OEM";
        if (v.major > 3 && v.minor > 89) {
            codes.os = "WINME";
        } else if (v.major == 4 && v.minor != 0) {
            codes.os = "WIN98";
        } else {
            codes.os = "WIN95";
            codes.serviceRelease = Windows95Release(f);
        }
    } else if (v.platform == VER_PLATFORM_WIN32_NT) {
        if (v.major <= 4) {
            char text[32];
            std::snprintf(text, sizeof text, "NT%1u%.1u", v.major, v.minor);
            codes.os = text;
        } else if (v.major == 5 && v.minor == 0) {
            codes.os = "WIN2000";
        } else if (v.major == 5) {
            if (!f.wow64)
                codes.os = "WINXP32P";
            else if (!f.nativeArchitecture)
                codes.os = "";
            else if (*f.nativeArchitecture == PROCESSOR_ARCHITECTURE_INTEL)
                codes.os = "WINXP32P";
            else if (*f.nativeArchitecture == PROCESSOR_ARCHITECTURE_IA64)
                codes.os = "WINXP64I";
            else if (*f.nativeArchitecture == PROCESSOR_ARCHITECTURE_AMD64)
                codes.os = "WINXP64X";
            else
                codes.os = "UNKNOWN_WIN32";
        } else {
            codes.os = "UNKNOWN_WIN32";
        }
        codes.serviceRelease = "SP";
        const std::string& sp = v.servicePack;
        size_t digit = sp.find_first_of("0123456789");
        while (digit != std::string::npos && digit < sp.size() && std::isdigit(static_cast<unsigned char>(sp[digit])))
            codes.serviceRelease += sp[digit++];
    }
    return codes;
}

const VersionInfo& LoadedVersionInfo() {
    static const VersionInfo info = [] {
        VersionInfo v;
        OSVERSIONINFOA record{};
        record.dwOSVersionInfoSize = sizeof record;
        if (GetVersionExA(&record)) {
            v.platform = record.dwPlatformId;
            v.major = record.dwMajorVersion;
            v.minor = record.dwMinorVersion;
            v.servicePack = record.szCSDVersion;
        }
        return v;
    }();
    return info;
}

OsFacts CurrentOsFacts() {
    OsFacts facts;
    facts.version = LoadedVersionInfo();
    BOOL wow64 = FALSE;
    facts.wow64 = IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
    SYSTEM_INFO native{};
    GetNativeSystemInfo(&native);
    facts.nativeArchitecture = native.wProcessorArchitecture;
    facts.language = GetSystemDefaultLangID();
    // This platform has no registry of Windows 95 release values yet: the key cannot be opened, so the release
    // of a Windows 95 system stays "OEM".
    facts.readCurrentVersion = [](const char*) { return std::optional<std::string>(); };
    return facts;
}

}  // namespace zmrmc
