// System information: the installed Windows of the simulated machine (platform/machine profile "windows").
#pragma once

#include "windef.h"

struct OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
};
struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
};
typedef OSVERSIONINFOW* LPOSVERSIONINFOW;
typedef OSVERSIONINFOA* LPOSVERSIONINFOA;

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

#define PROCESSOR_ARCHITECTURE_INTEL 0
#define PROCESSOR_ARCHITECTURE_IA64 6
#define PROCESSOR_ARCHITECTURE_AMD64 9

struct SYSTEM_INFO {
    WORD wProcessorArchitecture;
    WORD wReserved;
    DWORD dwPageSize;
    LPVOID lpMinimumApplicationAddress;
    LPVOID lpMaximumApplicationAddress;
    DWORD_PTR dwActiveProcessorMask;
    DWORD dwNumberOfProcessors;
    DWORD dwProcessorType;
    DWORD dwAllocationGranularity;
    WORD wProcessorLevel;
    WORD wProcessorRevision;
};
typedef SYSTEM_INFO* LPSYSTEM_INFO;
typedef WORD LANGID;

// Fails (ERROR_INSUFFICIENT_BUFFER) unless dwOSVersionInfoSize is the size of the structure.
BOOL GetVersionExW(LPOSVERSIONINFOW info);
BOOL GetVersionExA(LPOSVERSIONINFOA info);
BOOL IsWow64Process(HANDLE process, PBOOL wow64);
void GetNativeSystemInfo(LPSYSTEM_INFO info);
void GetSystemInfo(LPSYSTEM_INFO info);
LANGID GetSystemDefaultLangID();
HANDLE GetCurrentProcess();
BOOL SetProcessAffinityMask(HANDLE process, DWORD_PTR mask);
