// The installed Windows, read from <system root>/windows.json (layout in sysinfoapi.h).

#include "qv_system_root.h"
#include "windows.h"

#include <nlohmann/json.hpp>

#include <cwchar>
#include <fstream>
#include <optional>
#include <string>

namespace {

struct InstalledWindows {
    DWORD platform_id = VER_PLATFORM_WIN32_NT;
    DWORD major = 5;
    DWORD minor = 1;
    DWORD build = 2600;
    std::wstring service_pack = L"Service Pack 3";
    WORD service_pack_major = 3;
    WORD service_pack_minor = 0;
    BYTE product_type = VER_NT_WORKSTATION;
    bool amd64 = false;
};

template <typename T>
bool ReadNumber(const nlohmann::json& j, const char* key, T* out) {
    if (!j.contains(key)) return true;
    const auto& v = j[key];
    if (!v.is_number_unsigned()) return false;
    auto n = v.get<uint64_t>();
    if (n > static_cast<uint64_t>(static_cast<T>(~T{0}))) return false;
    *out = static_cast<T>(n);
    return true;
}

// The description, or nothing when the file exists but does not describe a Windows.
std::optional<InstalledWindows> ReadInstalledWindows() {
    InstalledWindows w;
    std::ifstream in(qv::win::SystemRoot() / "windows.json");
    if (!in) return w;
    nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
    if (!j.is_object()) return std::nullopt;
    if (!ReadNumber(j, "platform_id", &w.platform_id) || !ReadNumber(j, "major", &w.major) ||
        !ReadNumber(j, "minor", &w.minor) || !ReadNumber(j, "build", &w.build) ||
        !ReadNumber(j, "service_pack_major", &w.service_pack_major) ||
        !ReadNumber(j, "service_pack_minor", &w.service_pack_minor) ||
        !ReadNumber(j, "product_type", &w.product_type))
        return std::nullopt;
    if (j.contains("service_pack")) {
        if (!j["service_pack"].is_string()) return std::nullopt;
        w.service_pack = qv::win::FromUtf8(j["service_pack"].get<std::string>());
        if (w.service_pack.size() >= 128) return std::nullopt;
    }
    if (j.contains("architecture")) {
        if (!j["architecture"].is_string()) return std::nullopt;
        std::string arch = j["architecture"].get<std::string>();
        if (arch != "x86" && arch != "amd64") return std::nullopt;
        w.amd64 = arch == "amd64";
    }
    return w;
}

bool Compare(DWORD actual, DWORD wanted, BYTE condition) {
    switch (condition) {
        case VER_EQUAL: return actual == wanted;
        case VER_GREATER: return actual > wanted;
        case VER_GREATER_EQUAL: return actual >= wanted;
        case VER_LESS: return actual < wanted;
        case VER_LESS_EQUAL: return actual <= wanted;
        default: return false;
    }
}

BYTE ConditionOf(ULONGLONG mask, DWORD typeBit) {
    int index = __builtin_ctz(typeBit);
    return static_cast<BYTE>((mask >> (index * 3)) & 7);
}

// Major, minor and service pack compare as one version number, as Windows does when they are tested together.
bool CompareVersion(const InstalledWindows& w, const OSVERSIONINFOEXW& wanted, DWORD typeMask, ULONGLONG mask) {
    const DWORD parts[] = {VER_MAJORVERSION, VER_MINORVERSION, VER_SERVICEPACKMAJOR, VER_SERVICEPACKMINOR};
    const DWORD actual[] = {w.major, w.minor, w.service_pack_major, w.service_pack_minor};
    const DWORD target[] = {wanted.dwMajorVersion, wanted.dwMinorVersion, wanted.wServicePackMajor,
                            wanted.wServicePackMinor};
    for (int i = 0; i < 4; ++i) {
        if ((typeMask & parts[i]) == 0) continue;
        BYTE condition = ConditionOf(mask, parts[i]);
        if (actual[i] != target[i]) return Compare(actual[i], target[i], condition);
        bool later = false;  // equal here: decided by the next part that is tested
        for (int k = i + 1; k < 4; ++k) later = later || (typeMask & parts[k]) != 0;
        if (!later) return Compare(actual[i], target[i], condition);
    }
    return true;
}

}  // namespace

BOOL GetVersionExW(LPOSVERSIONINFOW info) {
    if (info == nullptr || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW) &&
                            info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXW))) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto w = ReadInstalledWindows();
    if (!w) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    info->dwMajorVersion = w->major;
    info->dwMinorVersion = w->minor;
    info->dwBuildNumber = w->build;
    info->dwPlatformId = w->platform_id;
    std::wmemset(info->szCSDVersion, 0, 128);
    w->service_pack.copy(info->szCSDVersion, 127);
    if (info->dwOSVersionInfoSize == sizeof(OSVERSIONINFOEXW)) {
        auto* ex = reinterpret_cast<OSVERSIONINFOEXW*>(info);
        ex->wServicePackMajor = w->service_pack_major;
        ex->wServicePackMinor = w->service_pack_minor;
        ex->wSuiteMask = 0;
        ex->wProductType = w->product_type;
        ex->wReserved = 0;
    }
    return TRUE;
}

ULONGLONG VerSetConditionMask(ULONGLONG conditionMask, DWORD typeMask, BYTE condition) {
    for (DWORD bit = 1; bit <= VER_PRODUCT_TYPE; bit <<= 1) {
        if ((typeMask & bit) == 0) continue;
        int index = __builtin_ctz(bit);
        conditionMask &= ~(ULONGLONG{7} << (index * 3));
        conditionMask |= static_cast<ULONGLONG>(condition & 7) << (index * 3);
    }
    return conditionMask;
}

BOOL VerifyVersionInfoW(LPOSVERSIONINFOEXW info, DWORD typeMask, DWORDLONG conditionMask) {
    if (info == nullptr || typeMask == 0 || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXW)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto w = ReadInstalledWindows();
    bool met = w.has_value() && CompareVersion(*w, *info, typeMask, conditionMask);
    if (met && (typeMask & VER_BUILDNUMBER))
        met = Compare(w->build, info->dwBuildNumber, ConditionOf(conditionMask, VER_BUILDNUMBER));
    if (met && (typeMask & VER_PLATFORMID))
        met = Compare(w->platform_id, info->dwPlatformId, ConditionOf(conditionMask, VER_PLATFORMID));
    if (met && (typeMask & VER_PRODUCT_TYPE))
        met = Compare(w->product_type, info->wProductType, ConditionOf(conditionMask, VER_PRODUCT_TYPE));
    if (met && (typeMask & VER_SUITENAME)) met = info->wSuiteMask == 0;
    if (!met) {
        SetLastError(ERROR_OLD_WIN_VERSION);
        return FALSE;
    }
    return TRUE;
}

void GetNativeSystemInfo(LPSYSTEM_INFO info) {
    if (info == nullptr) return;
    *info = SYSTEM_INFO{};
    auto w = ReadInstalledWindows();
    bool amd64 = w.has_value() && w->amd64;
    info->wProcessorArchitecture = amd64 ? PROCESSOR_ARCHITECTURE_AMD64 : PROCESSOR_ARCHITECTURE_INTEL;
    info->dwPageSize = 4096;
    info->dwAllocationGranularity = 65536;
    info->dwNumberOfProcessors = 1;
    info->dwActiveProcessorMask = 1;
    info->dwProcessorType = amd64 ? 8664 : 586;
}

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }

BOOL IsWow64Process(HANDLE process, PBOOL wow64) {
    if (process != GetCurrentProcess() || wow64 == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto w = ReadInstalledWindows();
    if (!w) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    *wow64 = w->amd64 ? TRUE : FALSE;
    return TRUE;
}
