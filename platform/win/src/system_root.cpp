// The system root: one emulated installation in a host folder.

#include "qv_module_unload.h"
#include "qv_private_files.h"
#include "qv_system_root.h"
#include "windows.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cwctype>
#include <mutex>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace qv::win {
namespace {

std::mutex root_mutex;
// Kept until the module is unloaded: static objects of a library that links the platform use the root while
// they are destroyed.
fs::path& CachedRoot() {
    static auto* root = KeepUntilUnload(new fs::path());
    return *root;
}

fs::path DefaultRoot() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/')
        return fs::path(state) / "qv" / "root";
    const char* home = std::getenv("HOME");
    return fs::path(home != nullptr && *home != '\0' ? home : "/tmp") / ".local" / "state" / "qv" / "root";
}

// The root is a passage for other users (qv_private_files.h: they may pass through it to the instrumentation
// service's door, not list it) and its folders are the owner's only; a root made before that gets these modes
// again. Another user's root (a client of that installation's services) is used as its owner made it.
void CreateStandardFolders(const fs::path& root) {
    struct stat st {};
    if (::stat(root.c_str(), &st) == 0 && st.st_uid != ::geteuid() && ::geteuid() != 0) return;
    if (std::error_code ec = CreatePassageFolders(root))
        throw std::runtime_error("cannot create " + root.string() + ": " + ec.message());
    for (const char* folder : {"drive_c/WINDOWS/TEMP", "drive_c/WINDOWS/system32/Drivers"}) {
        if (std::error_code ec = CreatePrivateFolders(root / folder))
            throw std::runtime_error("cannot create " + (root / folder).string() + ": " + ec.message());
    }
}

}  // namespace

const fs::path& SystemRoot() {
    std::lock_guard lock(root_mutex);
    fs::path& cached_root = CachedRoot();
    if (cached_root.empty()) {
        const char* named = std::getenv("QV_SYSTEM_ROOT");
        fs::path root = named != nullptr && *named != '\0' ? fs::path(named) : DefaultRoot();
        root = fs::absolute(root).lexically_normal();
        CreateStandardFolders(root);
        cached_root = root;
    }
    return cached_root;
}

void ResetSystemRootForTesting() {
    std::lock_guard lock(root_mutex);
    CachedRoot().clear();
}

fs::path HostPath(const std::wstring& path) {
    std::wstring rest = path;
    fs::path host;
    bool drive = rest.size() >= 2 && rest[1] == L':' && std::iswalpha(static_cast<wint_t>(rest[0]));
    if (drive) {
        wchar_t letter = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(rest[0])));
        host = SystemRoot() / ("drive_" + ToUtf8(std::wstring(1, letter)));
        rest.erase(0, 2);
    }
    for (auto& c : rest)
        if (c == L'\\') c = L'/';
    if (drive) {
        while (!rest.empty() && rest.front() == L'/') rest.erase(0, 1);
        return rest.empty() ? host : host / ToUtf8(rest);
    }
    return fs::path(ToUtf8(rest));
}

fs::path HostPath(const std::string& path) {
    std::optional<std::wstring> wide = FromAnsi(path.c_str());
    return wide ? HostPath(*wide) : fs::path();
}

}  // namespace qv::win

namespace {

// Copies text into a Win32 caller buffer: the length without NUL on success, the size needed (with NUL)
// when the buffer is too small.
DWORD CopyOut(const std::wstring& text, LPWSTR buffer, DWORD size) {
    if (buffer == nullptr || size <= text.size()) return static_cast<DWORD>(text.size() + 1);
    text.copy(buffer, text.size());
    buffer[text.size()] = L'\0';
    return static_cast<DWORD>(text.size());
}

}  // namespace

DWORD GetTempPathW(DWORD size, LPWSTR buffer) {
    qv::win::SystemRoot();
    return CopyOut(L"C:\\WINDOWS\\TEMP\\", buffer, size);
}

UINT GetSystemDirectoryW(LPWSTR buffer, UINT size) {
    qv::win::SystemRoot();
    return CopyOut(L"C:\\WINDOWS\\system32", buffer, size);
}

UINT GetWindowsDirectoryW(LPWSTR buffer, UINT size) {
    qv::win::SystemRoot();
    return CopyOut(L"C:\\WINDOWS", buffer, size);
}
