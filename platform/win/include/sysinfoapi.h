// The installed Windows: version information, version checks, WOW64 and the native processor.
//
// This platform's installed Windows is described by the file <system root>/windows.json, written by whoever
// creates the installation (the machine that a root is made from). Its members, all optional:
//   "platform_id"          dwPlatformId, default 2 (VER_PLATFORM_WIN32_NT)
//   "major", "minor"       version, default 5.1
//   "build"                build number, default 2600
//   "service_pack"         CSD text, default "Service Pack 3"
//   "service_pack_major"   default 3; "service_pack_minor" default 0
//   "product_type"         default 1 (VER_NT_WORKSTATION)
//   "architecture"         "x86" (default) or "amd64": the native processor; on "amd64" our 32-bit programs
//                          run under WOW64
// Without the file the installation is Windows XP Service Pack 3 on a 32-bit processor. A file that is not a
// JSON object with members of the right types makes GetVersionExW fail with ERROR_INVALID_DATA (and
// VerifyVersionInfoW report no match), so a broken description never passes for a valid Windows.
//
// kernel32.dll of the installation exports what that version of Windows had: VerifyVersionInfoW from 5.0,
// IsWow64Process and GetNativeSystemInfo from 5.1; GetProcAddress finds nothing on older versions.
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
typedef OSVERSIONINFOW* LPOSVERSIONINFOW;
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
#define VER_AND 6
#define VER_OR 7
#define ERROR_OLD_WIN_VERSION 1150L

BOOL GetVersionExW(LPOSVERSIONINFOW info);
// Sets the 3-bit condition of one type-mask bit in the condition mask.
ULONGLONG VerSetConditionMask(ULONGLONG conditionMask, DWORD typeMask, BYTE condition);
// TRUE when the installed Windows meets every condition of typeMask; else FALSE with ERROR_OLD_WIN_VERSION.
BOOL VerifyVersionInfoW(LPOSVERSIONINFOEXW info, DWORD typeMask, DWORDLONG conditionMask);

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
#define PROCESSOR_ARCHITECTURE_INTEL 0
#define PROCESSOR_ARCHITECTURE_AMD64 9

void GetNativeSystemInfo(LPSYSTEM_INFO info);
// The pseudo handle of the calling process.
HANDLE GetCurrentProcess();
// Our programs are 32-bit: a process runs under WOW64 exactly when the installed Windows is 64-bit.
BOOL IsWow64Process(HANDLE process, PBOOL wow64);
