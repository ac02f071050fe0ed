// The Win32 registry calls over the registry store.

#include "qv_module_unload.h"
#include "registry_store.h"
#include "windows.h"
#include "winreg.h"

#include <cstring>
#include <mutex>
#include <unordered_map>

namespace reg = qv::win::registry;

namespace {

std::mutex handle_mutex;
std::unordered_map<ULONG_PTR, reg::KeyId>& Handles() {
    static auto* handles = qv::win::KeepUntilUnload(new std::unordered_map<ULONG_PTR, reg::KeyId>());
    return *handles;
}
ULONG_PTR next_handle = 0x1000;

// The key an HKEY names: a predefined hive or an open handle. HKEY_CLASSES_ROOT is created on first use.
LONG Resolve(HKEY key, reg::KeyId* id) {
    auto value = reinterpret_cast<ULONG_PTR>(key);
    if (key == HKEY_LOCAL_MACHINE) {
        *id = reg::kLocalMachine;
    } else if (key == HKEY_CURRENT_USER) {
        *id = reg::kCurrentUser;
    } else if (key == HKEY_USERS) {
        *id = reg::kUsers;
    } else if (key == HKEY_CLASSES_ROOT) {
        bool created = false;
        return reg::CreateKey(reg::kLocalMachine, L"SOFTWARE\\Classes", id, &created);
    } else {
        std::lock_guard lock(handle_mutex);
        auto it = Handles().find(value);
        if (it == Handles().end()) return ERROR_INVALID_HANDLE;
        *id = it->second;
    }
    return ERROR_SUCCESS;
}

HKEY NewHandle(reg::KeyId id) {
    std::lock_guard lock(handle_mutex);
    ULONG_PTR value = next_handle;
    next_handle += 4;
    Handles()[value] = id;
    return reinterpret_cast<HKEY>(value);
}

std::wstring Text(LPCWSTR text) { return text != nullptr ? std::wstring(text) : std::wstring(); }

// Copies `source` into a caller buffer measured in characters, with the terminating NUL.
LONG CopyName(const std::wstring& source, LPWSTR target, LPDWORD size) {
    if (size == nullptr) return ERROR_INVALID_PARAMETER;
    if (target == nullptr || *size < source.size() + 1) {
        *size = static_cast<DWORD>(source.size() + 1);
        return ERROR_MORE_DATA;
    }
    std::wmemcpy(target, source.c_str(), source.size() + 1);
    *size = static_cast<DWORD>(source.size());
    return ERROR_SUCCESS;
}

LONG CopyData(const std::vector<BYTE>& source, LPBYTE target, LPDWORD size) {
    if (size == nullptr) return target == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    if (target == nullptr) {
        *size = static_cast<DWORD>(source.size());
        return ERROR_SUCCESS;
    }
    if (*size < source.size()) {
        *size = static_cast<DWORD>(source.size());
        return ERROR_MORE_DATA;
    }
    if (!source.empty()) std::memcpy(target, source.data(), source.size());
    *size = static_cast<DWORD>(source.size());
    return ERROR_SUCCESS;
}

}  // namespace

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM, SECURITY_ATTRIBUTES*, PHKEY result,
                     LPDWORD disposition) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    reg::KeyId parent = 0, id = 0;
    if (LONG rc = Resolve(key, &parent); rc != ERROR_SUCCESS) return rc;
    bool created = false;
    if (LONG rc = reg::CreateKey(parent, Text(subKey), &id, &created); rc != ERROR_SUCCESS) return rc;
    *result = NewHandle(id);
    if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, PHKEY result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    reg::KeyId parent = 0, id = 0;
    if (LONG rc = Resolve(key, &parent); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = reg::OpenKey(parent, Text(subKey), &id); rc != ERROR_SUCCESS) return rc;
    *result = NewHandle(id);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (key == HKEY_CLASSES_ROOT || key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER || key == HKEY_USERS)
        return ERROR_SUCCESS;
    std::lock_guard lock(handle_mutex);
    return Handles().erase(reinterpret_cast<ULONG_PTR>(key)) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    if (subKey == nullptr || *subKey == L'\0') return ERROR_INVALID_PARAMETER;
    reg::KeyId parent = 0;
    if (LONG rc = Resolve(key, &parent); rc != ERROR_SUCCESS) return rc;
    return reg::DeleteKey(parent, subKey, false);
}

LONG RegDeleteTreeW(HKEY key, LPCWSTR subKey) {
    reg::KeyId parent = 0;
    if (LONG rc = Resolve(key, &parent); rc != ERROR_SUCCESS) return rc;
    return reg::DeleteKey(parent, Text(subKey), true);
}

LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD size) {
    if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
    reg::KeyId id = 0;
    if (LONG rc = Resolve(key, &id); rc != ERROR_SUCCESS) return rc;
    std::vector<BYTE> bytes(data, data + (data != nullptr ? size : 0));
    return reg::SetValue(id, Text(valueName), type, bytes);
}

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
    if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
    reg::KeyId id = 0;
    if (LONG rc = Resolve(key, &id); rc != ERROR_SUCCESS) return rc;
    DWORD found_type = REG_NONE;
    std::vector<BYTE> bytes;
    if (LONG rc = reg::QueryValue(id, Text(valueName), &found_type, &bytes); rc != ERROR_SUCCESS) return rc;
    if (type != nullptr) *type = found_type;
    return CopyData(bytes, data, size);
}

LONG RegDeleteValueW(HKEY key, LPCWSTR valueName) {
    reg::KeyId id = 0;
    if (LONG rc = Resolve(key, &id); rc != ERROR_SUCCESS) return rc;
    return reg::DeleteValue(id, Text(valueName));
}

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD, LPWSTR keyClass, LPDWORD classSize,
                   FILETIME*) {
    reg::KeyId id = 0;
    if (LONG rc = Resolve(key, &id); rc != ERROR_SUCCESS) return rc;
    std::wstring found;
    if (LONG rc = reg::EnumKey(id, index, &found); rc != ERROR_SUCCESS) return rc;
    if (keyClass != nullptr && classSize != nullptr && *classSize > 0) *keyClass = L'\0';
    if (classSize != nullptr) *classSize = 0;
    return CopyName(found, name, nameSize);
}

LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD, LPDWORD type, LPBYTE data,
                   LPDWORD dataSize) {
    reg::KeyId id = 0;
    if (LONG rc = Resolve(key, &id); rc != ERROR_SUCCESS) return rc;
    std::wstring found;
    DWORD found_type = REG_NONE;
    std::vector<BYTE> bytes;
    if (LONG rc = reg::EnumValue(id, index, &found, &found_type, &bytes); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = CopyName(found, name, nameSize); rc != ERROR_SUCCESS) return rc;
    if (type != nullptr) *type = found_type;
    return CopyData(bytes, data, dataSize);
}
