// The registry: HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER and HKEY_USERS with the Win32 key and
// value calls.
//
// The keys live in one SQLite database under the system root ("registry.db"); every call is one transaction,
// so several processes may read and write at once and a change is either wholly visible or not at all.
// HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\SOFTWARE\Classes, as on a machine without per-user classes.
// Names of keys and values are compared without regard to case (ASCII letters). Results are Win32 error codes
// (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA, ...). An HKEY returned by RegCreateKeyExW or
// RegOpenKeyExW stays valid until RegCloseKey; a key deleted meanwhile answers ERROR_KEY_DELETED.
#pragma once

#include "windef.h"
#include "winerror.h"

struct FILETIME;
struct SECURITY_ATTRIBUTES;

typedef DWORD REGSAM;
typedef HKEY* PHKEY;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000003u)))

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define REG_OPTION_NON_VOLATILE 0x00000000
#define REG_CREATED_NEW_KEY 0x00000001
#define REG_OPENED_EXISTING_KEY 0x00000002

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

#define ERROR_KEY_DELETED 1018L
#define ERROR_BADDB 1009L
#define ERROR_CANTWRITE 1013L

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM access,
                     SECURITY_ATTRIBUTES* security, PHKEY result, LPDWORD disposition);
LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegCloseKey(HKEY key);
// Deletes a key without subkeys (ERROR_ACCESS_DENIED when it has some), with its values.
LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey);
// Deletes the subkey (or, with a null name, the content of `key`) with everything below it.
LONG RegDeleteTreeW(HKEY key, LPCWSTR subKey);
LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
// A null `data` asks only for type and size; a too-small buffer gives ERROR_MORE_DATA with the size needed.
LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
LONG RegDeleteValueW(HKEY key, LPCWSTR valueName);
// Subkeys and values in name order; ERROR_NO_MORE_ITEMS past the last. Sizes are in characters.
LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved, LPWSTR keyClass,
                   LPDWORD classSize, FILETIME* lastWrite);
LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved, LPDWORD type, LPBYTE data,
                   LPDWORD dataSize);
