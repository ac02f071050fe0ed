#include "WorkingFolder.h"

#include <cwchar>
#include <string>

namespace {

bool Usable(const std::wstring& folder) {
    if (folder.empty()) return false;
    DWORD attributes = GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

typedef HRESULT(WINAPI* SHGetFolderPathWProc)(HWND, int, HANDLE, DWORD, LPWSTR);
constexpr int kAppDataCreate = 0x801A;  // CSIDL_APPDATA | CSIDL_FLAG_CREATE

std::wstring ApplicationDataFolder() {
    std::wstring folder;
    HMODULE shfolder = LoadLibraryW(L"SHFolder.DLL");
    if (shfolder == nullptr) return folder;
    auto get_path = reinterpret_cast<SHGetFolderPathWProc>(GetProcAddress(shfolder, "SHGetFolderPathW"));
    wchar_t path[MAX_PATH] = {};
    if (get_path != nullptr && SUCCEEDED(get_path(nullptr, kAppDataCreate, nullptr, 0, path)) && Usable(path))
        folder = path;
    FreeLibrary(shfolder);
    return folder;
}

// The folder of the program's file: its name cut at the last separator (on this platform a program's file
// name can be a host path, so "/" separates too).
std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH * 4] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    if (n == 0 || n >= MAX_PATH * 4) return {};
    std::wstring file(path, n);
    size_t cut = file.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring() : file.substr(0, cut);
}

std::wstring CurrentFolder() {
    wchar_t path[MAX_PATH * 4] = {};
    DWORD n = GetCurrentDirectoryW(MAX_PATH * 4, path);
    return n == 0 || n >= MAX_PATH * 4 ? std::wstring() : std::wstring(path, n);
}

}  // namespace

LPWSTR GetWorkingFolder(LPCWSTR name) {
    wchar_t temp[MAX_PATH + 1] = {};
    DWORD n = GetTempPathW(MAX_PATH, temp);
    std::wstring base = n > 0 && n <= MAX_PATH ? std::wstring(temp, n) : std::wstring();
    if (!Usable(base)) {
        std::wstring chosen;
        if (base.find(L'%') != std::wstring::npos) chosen = ApplicationDataFolder();
        if (chosen.empty()) chosen = ProgramFolder();
        if (!Usable(chosen)) chosen = CurrentFolder();
        if (!Usable(chosen)) return nullptr;
        base = chosen;
    }
    std::wstring sub = name != nullptr ? name : L"";
    while (!sub.empty() && sub.front() == L'\\') sub.erase(0, 1);
    std::wstring result = base;
    if (result.back() != L'\\') result += L'\\';
    result += sub;
    if (result.back() != L'\\') result += L'\\';
    auto* copy = new wchar_t[result.size() + 1];
    std::wmemcpy(copy, result.c_str(), result.size() + 1);
    return copy;
}
