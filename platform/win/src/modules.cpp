// Loading modules and finding their exports. A module handle is the module's lowest mapped address.

#include "qv_module_unload.h"
#include "qv_system_root.h"
#include "system_modules.h"
#include "windows.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace {

struct Loaded {
    void* dl = nullptr;
    int count = 0;
};

std::mutex modules_mutex;
std::map<HMODULE, Loaded>& LoadedModules() {
    static auto* modules = qv::win::KeepUntilUnload(new std::map<HMODULE, Loaded>());
    return *modules;
}

struct ObjectInfo {
    HMODULE base = nullptr;
    std::string path;
};

// Finds the loaded object whose mapping contains `address`.
bool FindObject(const void* address, ObjectInfo* info) {
    Dl_info dl{};
    if (dladdr(address, &dl) == 0 || dl.dli_fbase == nullptr) return false;
    info->base = static_cast<HMODULE>(dl.dli_fbase);
    info->path = dl.dli_fname != nullptr ? dl.dli_fname : "";
    return true;
}

std::string MainProgramPath() {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

HMODULE MainProgram() {
    // The first entry dl_iterate_phdr reports is the program itself.
    HMODULE base = nullptr;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
            ElfW(Addr) lowest = ~ElfW(Addr){0};
            for (int i = 0; i < info->dlpi_phnum; ++i)
                if (info->dlpi_phdr[i].p_type == PT_LOAD && info->dlpi_phdr[i].p_vaddr < lowest)
                    lowest = info->dlpi_phdr[i].p_vaddr;
            *static_cast<HMODULE*>(data) = reinterpret_cast<HMODULE>(info->dlpi_addr + lowest);
            return 1;
        },
        &base);
    return base;
}

}  // namespace

HMODULE QvModuleFromAddress(const void* address) {
    ObjectInfo info;
    return FindObject(address, &info) ? info.base : nullptr;
}

HMODULE LoadLibraryW(LPCWSTR name) {
    if (name == nullptr || *name == L'\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (HMODULE system = qv::win::SystemModuleByName(name); system != nullptr) return system;
    std::string path = qv::win::HostPath(std::wstring(name)).string();
    void* dl = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (dl == nullptr) {
        SetLastError(::access(path.c_str(), F_OK) == 0 ? ERROR_BAD_FORMAT : ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    link_map* map = nullptr;
    if (dlinfo(dl, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_ld == nullptr) {
        dlclose(dl);
        SetLastError(ERROR_BAD_FORMAT);
        return nullptr;
    }
    // The dynamic section lies inside the object's mapping, so it identifies the module.
    HMODULE base = QvModuleFromAddress(map->l_ld);
    if (base == nullptr) {
        dlclose(dl);
        SetLastError(ERROR_BAD_FORMAT);
        return nullptr;
    }
    std::lock_guard lock(modules_mutex);
    Loaded& loaded = LoadedModules()[base];
    if (loaded.dl != nullptr)
        dlclose(dl);  // already loaded: dlopen took a second reference
    else
        loaded.dl = dl;
    ++loaded.count;
    return base;
}

HMODULE LoadLibraryA(LPCSTR name) {
    auto wide = qv::win::FromAnsi(name);
    return wide ? LoadLibraryW(wide->c_str()) : nullptr;
}

BOOL FreeLibrary(HMODULE module) {
    if (qv::win::IsSystemModule(module)) return TRUE;  // system modules stay loaded
    void* dl = nullptr;
    {
        std::lock_guard lock(modules_mutex);
        auto it = LoadedModules().find(module);
        if (it == LoadedModules().end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (--it->second.count == 0) {
            dl = it->second.dl;
            LoadedModules().erase(it);
        }
    }
    if (dl != nullptr) dlclose(dl);
    return TRUE;
}

void* GetProcAddress(HMODULE module, LPCSTR name) {
    if (name == nullptr || IS_INTRESOURCE(name)) {
        SetLastError(ERROR_PROC_NOT_FOUND);  // lookup by ordinal has no meaning here
        return nullptr;
    }
    if (qv::win::IsSystemModule(module)) return qv::win::SystemModuleExport(module, name);
    void* dl = nullptr;
    bool close_after = false;
    {
        std::lock_guard lock(modules_mutex);
        auto it = LoadedModules().find(module);
        if (it != LoadedModules().end()) dl = it->second.dl;
    }
    if (dl == nullptr) {
        ObjectInfo info;
        if (module == nullptr || module == MainProgram()) {
            dl = dlopen(nullptr, RTLD_NOW);
        } else if (FindObject(module, &info) && info.base == module) {
            dl = dlopen(info.path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        }
        if (dl == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        close_after = true;
    }
    void* symbol = dlsym(dl, name);
    // Only exports of the module itself count, not symbols it can see in its dependencies.
    if (symbol != nullptr && module != nullptr && QvModuleFromAddress(symbol) != module) symbol = nullptr;
    if (close_after) dlclose(dl);
    if (symbol == nullptr) SetLastError(ERROR_PROC_NOT_FOUND);
    return symbol;
}

HMODULE GetModuleHandleW(LPCWSTR name) {
    if (name == nullptr) return MainProgram();
    if (HMODULE system = qv::win::SystemModuleByName(name); system != nullptr) return system;
    std::string wanted = qv::win::HostPath(std::wstring(name)).filename().string();
    struct Search {
        std::string wanted;
        HMODULE found = nullptr;
    } search{wanted};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
            auto* s = static_cast<Search*>(data);
            const char* slash = info->dlpi_name != nullptr ? std::strrchr(info->dlpi_name, '/') : nullptr;
            const char* base = slash != nullptr ? slash + 1 : info->dlpi_name;
            if (base == nullptr || s->wanted != base) return 0;
            ElfW(Addr) lowest = ~ElfW(Addr){0};
            for (int i = 0; i < info->dlpi_phnum; ++i)
                if (info->dlpi_phdr[i].p_type == PT_LOAD && info->dlpi_phdr[i].p_vaddr < lowest)
                    lowest = info->dlpi_phdr[i].p_vaddr;
            s->found = reinterpret_cast<HMODULE>(info->dlpi_addr + lowest);
            return 1;
        },
        &search);
    if (search.found == nullptr) SetLastError(ERROR_MOD_NOT_FOUND);
    return search.found;
}

static std::string ModulePath(HMODULE module) {
    if (module == nullptr || module == MainProgram()) return MainProgramPath();
    ObjectInfo info;
    if (!FindObject(module, &info) || info.base != module) return {};
    char resolved[PATH_MAX];
    return ::realpath(info.path.c_str(), resolved) != nullptr ? std::string(resolved) : info.path;
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    std::string path = ModulePath(module);
    if (path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    std::wstring wide = qv::win::FromUtf8(path);
    if (buffer == nullptr || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Win32 contract: a truncated name fills the buffer, ends with NUL and reports the buffer size.
    if (wide.size() >= size) {
        wide.copy(buffer, size - 1);
        buffer[size - 1] = L'\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    wide.copy(buffer, wide.size());
    buffer[wide.size()] = L'\0';
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(wide.size());
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    std::wstring wide(MAX_PATH * 4, L'\0');
    DWORD n = GetModuleFileNameW(module, wide.data(), static_cast<DWORD>(wide.size()));
    if (n == 0 || buffer == nullptr || size == 0) return 0;
    wide.resize(n);
    std::optional<std::string> converted = qv::win::ToAnsi(wide);
    if (!converted) return 0;
    std::string& narrow = *converted;
    if (narrow.size() >= size) {
        narrow.copy(buffer, size - 1);
        buffer[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    narrow.copy(buffer, narrow.size());
    buffer[narrow.size()] = '\0';
    return static_cast<DWORD>(narrow.size());
}
