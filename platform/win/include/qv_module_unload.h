// Lifetime of the platform's process-wide tables and threads in the module that holds this copy of the
// platform code.
//
// In a program the tables are created on first use and never destroyed: threads that are still busy while
// the process exits must never find one gone. A shared library links its own copy of the platform (the BIOS
// access library does), and unloading it (FreeLibrary) unmaps that copy: its threads must have ended and its
// tables must be freed, or they would run unmapped code and be lost. So, in a shared library only, unloading
// first runs every stop routine (ending the threads the copy started), then frees every kept table, latest
// first. Both run after the library's own static objects are destroyed, which may still use the platform.
#pragma once

namespace qv::win {

// Runs `stop` at unload before any table is freed. Registration never fails (a fixed list; overflowing it
// aborts, as it means a programming error).
void AtModuleUnloadStop(void (*stop)());

// Frees `object` with `release` at unload.
void AtModuleUnloadRelease(void (*release)(void*), void* object);

// Registers a table created with new for deletion at unload and returns it:
//   static auto* table = qv::win::KeepUntilUnload(new std::map<...>());
template <typename T>
T* KeepUntilUnload(T* table) {
    AtModuleUnloadRelease([](void* object) { delete static_cast<T*>(object); }, table);
    return table;
}

// True in a shared library's copy of the platform (whose tables go at unload), false in a program's.
bool PlatformInSharedLibrary();

}  // namespace qv::win
