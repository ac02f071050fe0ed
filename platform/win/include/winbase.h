// Windows base services used by the system: errors, debugger output, text conversion, synchronisation,
// files and folders, modules and their resources, version resources, time.
//
// File names may be Windows paths ("C:\WINDOWS\TEMP\x") or host paths ("/tmp/x"): drive-letter paths name
// folders of the emulated installation under the system root, and "\" separates folders either way.
#pragma once

#include "windef.h"
#include "winerror.h"

#include <mutex>

// --- errors -------------------------------------------------------------------------------------------------
DWORD GetLastError();
void SetLastError(DWORD error);

// --- debugger output ----------------------------------------------------------------------------------------
// Each call writes its text as one line to the file named by QV_DEBUG_OUTPUT ("-" or "stderr": standard error);
// without that variable the text goes nowhere, as on a machine with no debugger attached.
void OutputDebugStringA(LPCSTR text);
void OutputDebugStringW(LPCWSTR text);

// --- text conversion ----------------------------------------------------------------------------------------
// CP_ACP is Windows-1252 on this platform. Both functions follow the Win32 contract: a zero output size asks
// for the size needed; a length of -1 includes the terminating NUL; the result is 0 on failure.
#define CP_ACP 0
#define CP_OEMCP 1
#define CP_1252 1252
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide, int wideSize);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int length, LPSTR text, int size, LPCSTR defaultChar,
                        LPBOOL usedDefault);

// --- synchronisation ----------------------------------------------------------------------------------------
// A critical section may be entered again by the thread that owns it.
struct CRITICAL_SECTION {
    std::recursive_mutex* mutex;
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;
void InitializeCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);

LONG InterlockedIncrement(LONG volatile* value);
LONG InterlockedDecrement(LONG volatile* value);
LONG InterlockedExchange(LONG volatile* target, LONG value);
LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand);

// --- time ---------------------------------------------------------------------------------------------------
void Sleep(DWORD milliseconds);
DWORD GetTickCount();
ULONGLONG GetTickCount64();

// --- handles, files and folders -----------------------------------------------------------------------------
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
#define INVALID_FILE_SIZE 0xFFFFFFFFu

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

BOOL CloseHandle(HANDLE handle);
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped);
BOOL FlushFileBuffers(HANDLE file);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL DeleteFileW(LPCWSTR name);
BOOL DeleteFileA(LPCSTR name);
BOOL CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES security);
BOOL RemoveDirectoryW(LPCWSTR name);
DWORD GetFileAttributesW(LPCWSTR name);
// Only FILE_ATTRIBUTE_READONLY has an effect (the owner write permission); other attributes are accepted.
BOOL SetFileAttributesW(LPCWSTR name, DWORD attributes);
DWORD GetTempPathW(DWORD size, LPWSTR buffer);
UINT GetSystemDirectoryW(LPWSTR buffer, UINT size);
UINT GetWindowsDirectoryW(LPWSTR buffer, UINT size);

// --- modules ------------------------------------------------------------------------------------------------
// A module handle is the module's load address, as on Windows. Inside a module, QvCurrentModule() gives the
// module's own handle (what a DLL receives in DllMain).
HMODULE LoadLibraryW(LPCWSTR name);
HMODULE LoadLibraryA(LPCSTR name);
BOOL FreeLibrary(HMODULE module);
void* GetProcAddress(HMODULE module, LPCSTR name);
HMODULE GetModuleHandleW(LPCWSTR name);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);

HMODULE QvModuleFromAddress(const void* address);
namespace qv_detail {
[[maybe_unused]] static const char module_anchor = 0;
}
inline HMODULE QvCurrentModule() { return QvModuleFromAddress(&qv_detail::module_anchor); }

// --- resources ----------------------------------------------------------------------------------------------
// Resources are carried in the module's image and found by type and name (integer identifiers made with
// MAKEINTRESOURCE, or strings such as L"BINARY"). The data stays valid while the module is loaded.
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
HRSRC FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);
DWORD SizeofResource(HMODULE module, HRSRC resource);
BOOL FreeResource(HGLOBAL data);
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int size);
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size);

// --- version resources --------------------------------------------------------------------------------------
DWORD GetFileVersionInfoSizeW(LPCWSTR fileName, LPDWORD handle);
BOOL GetFileVersionInfoW(LPCWSTR fileName, DWORD handle, DWORD size, LPVOID data);
BOOL VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, UINT* length);

#define MAKELANGID(p, s) static_cast<WORD>((static_cast<WORD>(s) << 10) | static_cast<WORD>(p))
#define LANG_NEUTRAL 0x00
#define LANG_ENGLISH 0x09
#define SUBLANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define SUBLANG_ENGLISH_US 0x01
