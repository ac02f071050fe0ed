// SetProcessAffinityMask. The simulated machine has one processor (GetSystemInfo). A process that asks to run
// on it is kept on the host processor that stands for it, with every thread it has; the processes it starts
// afterwards (its driver) inherit that. The library and its driver wake each other once per firmware request,
// and a wake-up that crosses to another processor costs several times the request. Each installation's
// processor is one of those the process may use, picked by the system root's name, so that the processes of
// one installation share one and several installations spread over the host's. The other processes stay where
// the host's scheduler puts them.

#include "qv_system_root.h"
#include "windows.h"

#include <dirent.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <mutex>

namespace {

HANDLE const kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
constexpr DWORD_PTR kProcessors = 1;  // the simulated machine's processor mask

// The host processor that stands for this installation's one, among those this process was allowed to use.
int HostProcessor() {
    static int processor = [] {
        cpu_set_t allowed;
        CPU_ZERO(&allowed);
        if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) return -1;
        int count = CPU_COUNT(&allowed);
        if (count == 0) return -1;
        int pick = static_cast<int>(std::hash<std::string>{}(qv::win::SystemRoot().string()) % count);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
            if (CPU_ISSET(cpu, &allowed) && pick-- == 0) return cpu;
        return -1;
    }();
    return processor;
}

}  // namespace

BOOL SetProcessAffinityMask(HANDLE process, DWORD_PTR mask) {
    if (process != kCurrentProcess || mask == 0 || (mask & ~kProcessors) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int processor = HostProcessor();
    if (processor < 0) return TRUE;  // the host does not say where it runs the process: nothing to keep
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(processor, &one);
    // Every thread of the process; a thread started later inherits its creator's processor.
    static std::mutex serial;
    std::lock_guard lock(serial);
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (dirent* entry = ::readdir(tasks)) {
            char* end = nullptr;
            long tid = std::strtol(entry->d_name, &end, 10);
            if (end != entry->d_name && *end == '\0') ::sched_setaffinity(static_cast<pid_t>(tid), sizeof one, &one);
        }
        ::closedir(tasks);
    } else {
        ::sched_setaffinity(0, sizeof one, &one);
    }
    return TRUE;
}
