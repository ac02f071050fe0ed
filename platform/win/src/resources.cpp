// Finding the resources of a loaded module, and string-table resources.

#include "qv_module_unload.h"
#include "qv_resource_notes.h"
#include "qv_system_root.h"
#include "windows.h"

#include <link.h>

#include <deque>
#include <map>
#include <mutex>

namespace {

using qv::win::ResourceEntry;
using qv::win::ResourceId;

std::mutex cache_mutex;
// Entries of each module seen so far; a deque keeps every entry's address stable for HRSRC values.
std::map<HMODULE, std::deque<ResourceEntry>>& Cache() {
    static auto* cache = qv::win::KeepUntilUnload(new std::map<HMODULE, std::deque<ResourceEntry>>());
    return *cache;
}

struct Walk {
    HMODULE module;
    std::deque<ResourceEntry>* entries;
    bool found = false;
};

const std::deque<ResourceEntry>* ModuleResources(HMODULE module) {
    if (module == nullptr) module = GetModuleHandleW(nullptr);
    std::lock_guard lock(cache_mutex);
    auto it = Cache().find(module);
    if (it != Cache().end()) return &it->second;
    std::deque<ResourceEntry> entries;
    Walk walk{module, &entries};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
            auto* w = static_cast<Walk*>(data);
            ElfW(Addr) lowest = ~ElfW(Addr){0};
            for (int i = 0; i < info->dlpi_phnum; ++i)
                if (info->dlpi_phdr[i].p_type == PT_LOAD && info->dlpi_phdr[i].p_vaddr < lowest)
                    lowest = info->dlpi_phdr[i].p_vaddr;
            if (reinterpret_cast<HMODULE>(info->dlpi_addr + lowest) != w->module) return 0;
            w->found = true;
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const auto& ph = info->dlpi_phdr[i];
                if (ph.p_type != PT_NOTE) continue;
                auto notes = reinterpret_cast<const BYTE*>(info->dlpi_addr + ph.p_vaddr);
                qv::win::ParseResourceNotes(notes, ph.p_memsz,
                                            [&](const ResourceEntry& e) { w->entries->push_back(e); });
            }
            return 1;
        },
        &walk);
    if (!walk.found) return nullptr;
    return &Cache().emplace(module, std::move(entries)).first->second;
}

// Language preference when none is asked for: neutral, then US English, then any.
const ResourceEntry* Find(HMODULE module, const ResourceId& type, const ResourceId& name, int language) {
    const auto* entries = ModuleResources(module);
    if (entries == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const ResourceEntry* best = nullptr;
    int best_rank = 99;
    bool type_seen = false;
    for (const auto& e : *entries) {
        if (!(e.type == type)) continue;
        type_seen = true;
        if (!(e.name == name)) continue;
        int rank = language >= 0 ? (e.language == language ? 0 : 99)
                                 : (e.language == 0        ? 0
                                    : e.language == 0x0409 ? 1
                                                           : 2);
        if (rank < best_rank) {
            best = &e;
            best_rank = rank;
        }
    }
    if (best == nullptr)
        SetLastError(!type_seen      ? ERROR_RESOURCE_TYPE_NOT_FOUND
                     : language >= 0 ? ERROR_RESOURCE_LANG_NOT_FOUND
                                     : ERROR_RESOURCE_NAME_NOT_FOUND);
    return best;
}

}  // namespace

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
    if (name == nullptr || type == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* e = Find(module, qv::win::ResourceIdFromArgument(type), qv::win::ResourceIdFromArgument(name), -1);
    return reinterpret_cast<HRSRC>(const_cast<ResourceEntry*>(e));
}

HRSRC FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language) {
    if (name == nullptr || type == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* e = Find(module, qv::win::ResourceIdFromArgument(type), qv::win::ResourceIdFromArgument(name), language);
    return reinterpret_cast<HRSRC>(const_cast<ResourceEntry*>(e));
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
    if (resource == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return const_cast<BYTE*>(reinterpret_cast<ResourceEntry*>(resource)->data);
}

LPVOID LockResource(HGLOBAL data) { return data; }
BOOL FreeResource(HGLOBAL) { return FALSE; }

DWORD SizeofResource(HMODULE, HRSRC resource) {
    if (resource == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return reinterpret_cast<ResourceEntry*>(resource)->size;
}

// String tables carry one UTF-8 resource of type RT_STRING per string identifier.
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int size) {
    if (buffer == nullptr || id > 0xFFFF) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(id), RT_STRING);
    if (found == nullptr) {
        if (size > 0) buffer[0] = L'\0';
        return 0;
    }
    auto* e = reinterpret_cast<ResourceEntry*>(found);
    std::wstring text = qv::win::FromUtf8(std::string(reinterpret_cast<const char*>(e->data), e->size));
    if (size == 0) {
        // Win32: with size 0 the buffer receives a read-only pointer to the resource's text. Our text is
        // UTF-8 in the image, so hand out a copy kept alive for the module's life.
        static std::mutex strings_mutex;
        static auto* strings = qv::win::KeepUntilUnload(new std::map<HRSRC, std::wstring>());
        std::lock_guard lock(strings_mutex);
        auto& kept = (*strings)[found];
        kept = text;
        *reinterpret_cast<const wchar_t**>(buffer) = kept.c_str();
        return static_cast<int>(kept.size());
    }
    size_t n = text.size() < static_cast<size_t>(size - 1) ? text.size() : static_cast<size_t>(size - 1);
    text.copy(buffer, n);
    buffer[n] = L'\0';
    return static_cast<int>(n);
}

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
    if (buffer == nullptr || size <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::wstring wide(4096, L'\0');
    int n = LoadStringW(instance, id, wide.data(), static_cast<int>(wide.size()));
    wide.resize(static_cast<size_t>(n));
    buffer[0] = '\0';
    if (n == 0) return 0;
    std::optional<std::string> converted = qv::win::ToAnsi(wide);
    if (!converted) return 0;
    const std::string& narrow = *converted;
    size_t copy = narrow.size() < static_cast<size_t>(size - 1) ? narrow.size() : static_cast<size_t>(size - 1);
    narrow.copy(buffer, copy);
    buffer[copy] = '\0';
    return static_cast<int>(copy);
}
