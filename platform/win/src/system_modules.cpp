#include "system_modules.h"

#include <cstring>
#include <cwctype>

namespace qv::win {
namespace {

alignas(16) const BYTE kernel32_image[16] = {'M', 'Z'};
alignas(16) const BYTE ntdll_image[16] = {'M', 'Z'};

HMODULE Handle(const BYTE* image) { return reinterpret_cast<HMODULE>(const_cast<BYTE*>(image)); }

struct Export {
    const char* name;
    void* function;
    DWORD major;  // the first Windows version that has it
    DWORD minor;
};

const Export kernel32_exports[] = {
    {"GetVersionExW", reinterpret_cast<void*>(&GetVersionExW), 4, 0},
    {"VerifyVersionInfoW", reinterpret_cast<void*>(&VerifyVersionInfoW), 5, 0},
    {"VerSetConditionMask", reinterpret_cast<void*>(&VerSetConditionMask), 5, 0},
    {"IsWow64Process", reinterpret_cast<void*>(&IsWow64Process), 5, 1},
    {"GetNativeSystemInfo", reinterpret_cast<void*>(&GetNativeSystemInfo), 5, 1},
};

std::wstring Lower(std::wstring text) {
    for (auto& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return text;
}

}  // namespace

HMODULE SystemModuleByName(const std::wstring& name) {
    std::wstring file = Lower(name);
    size_t slash = file.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
        // Only the system folder holds system modules.
        std::wstring folder = file.substr(0, slash);
        if (folder != L"c:\\windows\\system32" && folder != L"c:/windows/system32") return nullptr;
        file.erase(0, slash + 1);
    }
    if (file == L"kernel32" || file == L"kernel32.dll") return Handle(kernel32_image);
    if (file == L"ntdll" || file == L"ntdll.dll") return Handle(ntdll_image);
    return nullptr;
}

bool IsSystemModule(HMODULE module) { return module == Handle(kernel32_image) || module == Handle(ntdll_image); }

void* SystemModuleExport(HMODULE module, LPCSTR name) {
    if (!IsSystemModule(module) || name == nullptr || IS_INTRESOURCE(name)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    if (module == Handle(ntdll_image)) {
        void* native = NtdllExport(name);
        if (native == nullptr) SetLastError(ERROR_PROC_NOT_FOUND);
        return native;
    }
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    bool known = GetVersionExW(&version) != FALSE;
    for (const Export& e : kernel32_exports) {
        if (std::strcmp(e.name, name) != 0) continue;
        bool present = known && (version.dwMajorVersion > e.major ||
                                 (version.dwMajorVersion == e.major && version.dwMinorVersion >= e.minor));
        if (present || std::strcmp(name, "GetVersionExW") == 0) return e.function;
        break;
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

}  // namespace qv::win
