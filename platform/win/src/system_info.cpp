// System information from the simulated machine's description of its installed Windows.

#include "qv_root_machine.h"
#include "qv_system_root.h"
#include "windows.h"

#include <cstring>
#include <exception>

namespace {

bool Describe(qv::machine::WindowsDescription* out) {
    try {
        *out = qv::win::RootInstalledWindows();
        return true;
    } catch (const std::exception&) {
        SetLastError(ERROR_GEN_FAILURE);
        return false;
    }
}

HANDLE const kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

}  // namespace

BOOL GetVersionExW(LPOSVERSIONINFOW info) {
    qv::machine::WindowsDescription w;
    if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (!Describe(&w)) return FALSE;
    info->dwMajorVersion = w.major;
    info->dwMinorVersion = w.minor;
    info->dwBuildNumber = w.build;
    info->dwPlatformId = w.platform;
    std::wstring sp = qv::win::FromUtf8(w.servicePack.substr(0, 127));
    std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    sp.copy(info->szCSDVersion, 127);
    return TRUE;
}

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
    qv::machine::WindowsDescription w;
    if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (!Describe(&w)) return FALSE;
    info->dwMajorVersion = w.major;
    info->dwMinorVersion = w.minor;
    info->dwBuildNumber = w.build;
    info->dwPlatformId = w.platform;
    std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    w.servicePack.copy(info->szCSDVersion, 127);
    return TRUE;
}

HANDLE GetCurrentProcess() { return kCurrentProcess; }

BOOL IsWow64Process(HANDLE process, PBOOL wow64) {
    qv::machine::WindowsDescription w;
    if (process != kCurrentProcess || wow64 == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!Describe(&w)) return FALSE;
    *wow64 = w.wow64 ? TRUE : FALSE;
    return TRUE;
}

void GetSystemInfo(LPSYSTEM_INFO info) {
    if (info == nullptr) return;
    *info = {};
    info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;  // processes are 32-bit processes
    info->dwPageSize = 4096;
    info->dwNumberOfProcessors = 1;
    info->dwActiveProcessorMask = 1;
    info->dwAllocationGranularity = 65536;
    info->dwProcessorType = 586;
    info->wProcessorLevel = 6;
}

void GetNativeSystemInfo(LPSYSTEM_INFO info) {
    if (info == nullptr) return;
    GetSystemInfo(info);
    qv::machine::WindowsDescription w;
    if (Describe(&w)) info->wProcessorArchitecture = w.nativeArchitecture;
}

LANGID GetSystemDefaultLangID() {
    qv::machine::WindowsDescription w;
    return Describe(&w) ? w.language : static_cast<LANGID>(0x0409);
}
