// Version resources: the string values of a program's version information.
//
// The resource (RT_VERSION, identifier 1) holds UTF-8 lines "StringFileInfo\<lang><codepage>\<Key>=<Value>".
// GetFileVersionInfoW turns them into a block of wide strings that VerQueryValueW answers from:
//   "QVVI" magic, then pairs of NUL-terminated wide strings (query path, value), ended by an empty path.

#include "qv_resource_notes.h"
#include "qv_system_root.h"
#include "windows.h"

#include <cstring>
#include <filesystem>
#include <cwctype>
#include <string>
#include <vector>

namespace {

constexpr char kMagic[4] = {'Q', 'V', 'V', 'I'};

bool BuildBlock(LPCWSTR fileName, std::vector<WCHAR>* block) {
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::string path = qv::win::HostPath(std::wstring(fileName)).string();
    std::string storage;
    std::string text;
    bool found = false;
    bool readable = true;
    // The running program's own file: its resources are mapped already, so the file is not read again
    // (programs carry large resources).
    std::error_code ec;
    HMODULE program = std::filesystem::equivalent(path, "/proc/self/exe", ec) ? GetModuleHandleW(nullptr) : nullptr;
    HRSRC resource = program != nullptr ? FindResourceW(program, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16)) : nullptr;
    if (resource != nullptr) {
        const void* data = LockResource(LoadResource(program, resource));
        if (data != nullptr) text.assign(static_cast<const char*>(data), SizeofResource(program, resource));
        found = data != nullptr;
    } else {
        readable = qv::win::ReadFileResources(path, storage, [&](const qv::win::ResourceEntry& e) {
            if (!found && e.type.is_integer && e.type.id == 16 && e.name.is_integer && e.name.id == 1) {
                text.assign(reinterpret_cast<const char*>(e.data), e.size);
                found = true;
            }
        });
    }
    if (!readable || !found) {
        SetLastError(!readable ? ERROR_FILE_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
        return false;
    }
    block->assign(sizeof kMagic / sizeof(WCHAR) + 1, 0);
    std::memcpy(block->data(), kMagic, sizeof kMagic);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        std::wstring key = qv::win::FromUtf8(line.substr(0, eq));
        std::wstring value = qv::win::FromUtf8(line.substr(eq + 1));
        block->insert(block->end(), key.begin(), key.end());
        block->push_back(L'\0');
        block->insert(block->end(), value.begin(), value.end());
        block->push_back(L'\0');
    }
    block->push_back(L'\0');
    return true;
}

bool SamePath(const WCHAR* a, const std::wstring& b) {
    size_t i = 0;
    for (; a[i] != L'\0' && i < b.size(); ++i)
        if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) return false;
    return a[i] == L'\0' && i == b.size();
}

}  // namespace

DWORD GetFileVersionInfoSizeW(LPCWSTR fileName, LPDWORD handle) {
    if (handle != nullptr) *handle = 0;
    std::vector<WCHAR> block;
    if (!BuildBlock(fileName, &block)) return 0;
    return static_cast<DWORD>(block.size() * sizeof(WCHAR));
}

BOOL GetFileVersionInfoW(LPCWSTR fileName, DWORD, DWORD size, LPVOID data) {
    std::vector<WCHAR> block;
    if (data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!BuildBlock(fileName, &block)) return FALSE;
    if (size < block.size() * sizeof(WCHAR)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(data, block.data(), block.size() * sizeof(WCHAR));
    return TRUE;
}

BOOL VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, UINT* length) {
    if (block == nullptr || subBlock == nullptr || buffer == nullptr ||
        std::memcmp(block, kMagic, sizeof kMagic) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::wstring wanted(subBlock);
    while (!wanted.empty() && wanted.front() == L'\\') wanted.erase(0, 1);
    auto* p = static_cast<const WCHAR*>(block) + sizeof kMagic / sizeof(WCHAR) + 1;
    while (*p != L'\0') {
        const WCHAR* key = p;
        p += std::wcslen(p) + 1;
        const WCHAR* value = p;
        p += std::wcslen(p) + 1;
        if (SamePath(key, wanted)) {
            *buffer = const_cast<WCHAR*>(value);
            if (length != nullptr) *length = static_cast<UINT>(std::wcslen(value) + 1);
            return TRUE;
        }
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return FALSE;
}
