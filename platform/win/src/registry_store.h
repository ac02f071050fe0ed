// The registry's storage: keys and values in one SQLite database under the system root.
//
// Keys are rows (id, parent, name); the four hives are fixed rows with parent 0. Each call is one transaction
// (writes take the database's write lock at once and wait for it up to 10 s), so concurrent processes see
// whole changes only. One connection per process, guarded by a mutex; it is reopened when the system root
// changes (tests switch roots).
#pragma once

#include "windef.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qv::win::registry {

using KeyId = int64_t;
constexpr KeyId kLocalMachine = 1;
constexpr KeyId kCurrentUser = 2;
constexpr KeyId kUsers = 3;

// Every function returns a Win32 error code. `path` is a "\"-separated relative path (may be empty).
LONG CreateKey(KeyId parent, const std::wstring& path, KeyId* id, bool* created);
LONG OpenKey(KeyId parent, const std::wstring& path, KeyId* id);
LONG KeyExists(KeyId id);
// `tree` false refuses a key with subkeys (ERROR_ACCESS_DENIED). With an empty path and `tree`, the key's
// content (subkeys and values) goes and the key stays.
LONG DeleteKey(KeyId parent, const std::wstring& path, bool tree);
LONG SetValue(KeyId key, const std::wstring& name, DWORD type, const std::vector<BYTE>& data);
LONG QueryValue(KeyId key, const std::wstring& name, DWORD* type, std::vector<BYTE>* data);
LONG DeleteValue(KeyId key, const std::wstring& name);
LONG EnumKey(KeyId key, DWORD index, std::wstring* name);
LONG EnumValue(KeyId key, DWORD index, std::wstring* name, DWORD* type, std::vector<BYTE>* data);

}  // namespace qv::win::registry
