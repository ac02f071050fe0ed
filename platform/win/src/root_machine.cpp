// The machine of the current system root, kept once per process.

#include "qv_module_unload.h"
#include "qv_root_machine.h"
#include "qv_system_root.h"
#include "windows.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace fs = std::filesystem;

namespace qv::win {
namespace {

std::mutex cache_mutex;
struct Cache {
    std::shared_ptr<qv::machine::Machine> machine;
    fs::path root;
    // The installed Windows read without opening the machine (RootInstalledWindows), for windows_root.
    qv::machine::WindowsDescription windows;
    fs::path windows_root;
    bool windows_known = false;
};
// Kept until the module is unloaded, like the root itself.
Cache& Cached() {
    static auto* cache = KeepUntilUnload(new Cache());
    return *cache;
}

}  // namespace

void ReportMachineFault(const std::string& message) {
    std::string line = message + "\n";
    const char* debug = std::getenv("QV_DEBUG_OUTPUT");
    if (debug == nullptr || std::strcmp(debug, "-") != 0) (void)!::write(STDERR_FILENO, line.data(), line.size());
    OutputDebugStringW(FromUtf8(line).c_str());
}

std::shared_ptr<qv::machine::Machine> RootMachine() { return RootMachine(SystemRoot()); }

std::shared_ptr<qv::machine::Machine> RootMachine(const fs::path& root) {
    std::lock_guard guard(cache_mutex);
    Cache& cache = Cached();
    // Compared as text: a driver asks for its machine on every request, and path comparison splits both paths.
    if (!cache.machine || cache.root.native() != root.native()) {
        try {
            cache.machine = qv::machine::Machine::Open(root, &ReportMachineFault);
        } catch (const qv::machine::MachineNotMade&) {
            // This program was to make the installation's machine and cannot: nothing of the installation can
            // run. The fault is reported; the exit code tells the caller.
            std::fflush(nullptr);
            std::_Exit(kNoMachineExitCode);
        }
        cache.root = root;
    }
    return cache.machine;
}

qv::machine::WindowsDescription RootInstalledWindows() {
    fs::path root = SystemRoot();
    {
        std::lock_guard guard(cache_mutex);
        Cache& cache = Cached();
        if (cache.machine && cache.root == root) return cache.machine->Windows();
        if (cache.windows_known && cache.windows_root == root) return cache.windows;
    }
    std::optional<qv::machine::WindowsDescription> read = qv::machine::Machine::ReadInstalledWindows(
        root, &ReportMachineFault);
    if (!read) return RootMachine()->Windows();
    std::lock_guard guard(cache_mutex);
    Cache& cache = Cached();
    cache.windows = *read;
    cache.windows_root = root;
    cache.windows_known = true;
    return *read;
}

void ResetRootMachineForTesting() {
    std::lock_guard guard(cache_mutex);
    Cached() = Cache();
}

}  // namespace qv::win
