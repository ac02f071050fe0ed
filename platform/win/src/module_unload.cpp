// Unloading a shared library's copy of the platform: stop routines, then the kept tables (latest first).

#include "qv_module_unload.h"

#include <link.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>

extern "C" {
extern void* __dso_handle;
int __cxa_atexit(void (*function)(void*), void* argument, void* dso);
}

namespace {

struct Release {
    void (*release)(void*);
    void* object;
};

// Fixed lists without a destructor: nothing here may depend on destruction order.
constexpr int kMaxEntries = 64;
std::mutex entries_mutex;
void (*stops[kMaxEntries])();
int stop_count = 0;
Release releases[kMaxEntries];
int release_count = 0;

// The main program is always the first object dl_iterate_phdr reports; find the one holding this code.
int ObjectIndexOfThisCode() {
    struct Search {
        uintptr_t address;
        int index;
        int found;
    } search{reinterpret_cast<uintptr_t>(&ObjectIndexOfThisCode), 0, -1};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& segment = info->dlpi_phdr[i];
                uintptr_t start = info->dlpi_addr + segment.p_vaddr;
                if (segment.p_type == PT_LOAD && s->address >= start && s->address < start + segment.p_memsz) {
                    s->found = s->index;
                    return 1;
                }
            }
            ++s->index;
            return 0;
        },
        &search);
    return search.found;
}

bool InSharedLibrary() {
    static const bool shared = ObjectIndexOfThisCode() > 0;
    return shared;
}

void Unload(void*) {
    int stop_total, release_total;
    {
        std::lock_guard lock(entries_mutex);
        stop_total = stop_count;
        release_total = release_count;
    }
    for (int i = 0; i < stop_total; ++i) stops[i]();
    for (int i = release_total - 1; i >= 0; --i) releases[i].release(releases[i].object);
    std::lock_guard lock(entries_mutex);
    stop_count = release_count = 0;
}

// Registered before any static object of the library exists, so it runs after all of them are destroyed
// (handlers of one module run in reverse order of registration, when the module is unloaded).
__attribute__((constructor(101))) void ArmUnload() {
    if (InSharedLibrary()) __cxa_atexit(Unload, nullptr, &__dso_handle);
}

}  // namespace

namespace qv::win {

bool PlatformInSharedLibrary() { return InSharedLibrary(); }

void AtModuleUnloadStop(void (*stop)()) {
    if (!InSharedLibrary()) return;
    std::lock_guard lock(entries_mutex);
    if (stop_count == kMaxEntries) std::abort();
    stops[stop_count++] = stop;
}

void AtModuleUnloadRelease(void (*release)(void*), void* object) {
    if (!InSharedLibrary()) return;
    std::lock_guard lock(entries_mutex);
    if (release_count == kMaxEntries) std::abort();
    releases[release_count++] = {release, object};
}

}  // namespace qv::win
