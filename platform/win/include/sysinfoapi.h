// System information: the installed Windows of the simulated machine (platform/machine profile "windows").
//
// kernel32.dll of the installation exports what that version of Windows had: VerifyVersionInfoW and
// VerSetConditionMask from 5.0, IsWow64Process and GetNativeSystemInfo from 5.1; GetProcAddress finds
// nothing on older versions (or when the machine's Windows cannot be read).
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
struct OSVERSIONINFOEXW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
};
typedef OSVERSIONINFOEXW* LPOSVERSIONINFOEXW;
typedef ULONGLONG DWORDLONG;

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2
#define VER_NT_WORKSTATION 1

// Type mask bits and conditions of VerifyVersionInfoW.
#define VER_MINORVERSION 0x0000001
#define VER_MAJORVERSION 0x0000002
#define VER_BUILDNUMBER 0x0000004
#define VER_PLATFORMID 0x0000008
#define VER_SERVICEPACKMINOR 0x0000010
#define VER_SERVICEPACKMAJOR 0x0000020
#define VER_SUITENAME 0x0000040
#define VER_PRODUCT_TYPE 0x0000080
#define VER_EQUAL 1
#define VER_GREATER 2
#define VER_GREATER_EQUAL 3
#define VER_LESS 4
#define VER_LESS_EQUAL 5
#define ERROR_OLD_WIN_VERSION 1150L

// Sets the 3-bit condition of each type-mask bit in the condition mask.
ULONGLONG VerSetConditionMask(ULONGLONG conditionMask, DWORD typeMask, BYTE condition);
// TRUE when the installed Windows meets every condition of typeMask (major, minor and service pack compare as
// one version number, as on Windows; the service pack number is read from the "Service Pack N" text; the
// product is a workstation without suites); else FALSE with ERROR_OLD_WIN_VERSION. FALSE with
// ERROR_INVALID_PARAMETER for a bad structure size or an empty type mask.
BOOL VerifyVersionInfoW(LPOSVERSIONINFOEXW info, DWORD typeMask, DWORDLONG conditionMask);

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
