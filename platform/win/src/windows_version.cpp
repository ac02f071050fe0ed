// Version checks against the installed Windows (GetVersionExW).

#include "windows.h"

#include <cwchar>

namespace {

struct Installed {
    DWORD major, minor, build, platform;
    WORD service_pack_major = 0;
    WORD service_pack_minor = 0;
};

bool ReadInstalled(Installed* out) {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExW(&info)) return false;
    out->major = info.dwMajorVersion;
    out->minor = info.dwMinorVersion;
    out->build = info.dwBuildNumber;
    out->platform = info.dwPlatformId;
    unsigned number = 0;
    if (std::swscanf(info.szCSDVersion, L"Service Pack %u", &number) == 1 && number < 0x10000)
        out->service_pack_major = static_cast<WORD>(number);
    return true;
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
bool CompareVersion(const Installed& w, const OSVERSIONINFOEXW& wanted, DWORD typeMask, ULONGLONG mask) {
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
    Installed w{};
    bool met = ReadInstalled(&w) && CompareVersion(w, *info, typeMask, conditionMask);
    if (met && (typeMask & VER_BUILDNUMBER))
        met = Compare(w.build, info->dwBuildNumber, ConditionOf(conditionMask, VER_BUILDNUMBER));
    if (met && (typeMask & VER_PLATFORMID))
        met = Compare(w.platform, info->dwPlatformId, ConditionOf(conditionMask, VER_PLATFORMID));
    if (met && (typeMask & VER_PRODUCT_TYPE))
        met = Compare(VER_NT_WORKSTATION, info->wProductType, ConditionOf(conditionMask, VER_PRODUCT_TYPE));
    if (met && (typeMask & VER_SUITENAME)) met = info->wSuiteMask == 0;
    if (!met) {
        SetLastError(ERROR_OLD_WIN_VERSION);
        return FALSE;
    }
    return TRUE;
}
