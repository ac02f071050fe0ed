// Processes that run on a system root: what the COM runtime started on demand for a test (the instrumentation
// service, a provider, a driver) outlives the test program unless it is ended here.
#pragma once

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace qv::test {

inline std::string ProcFile(pid_t pid, const char* name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Running and not a zombie.
inline bool ProcessRunning(pid_t pid) {
    if (kill(pid, 0) != 0) return false;
    std::string stat = ProcFile(pid, "stat");
    auto close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'Z';
}

// Other processes whose environment names `root` as their QV_SYSTEM_ROOT.
inline std::vector<pid_t> RootProcesses(const std::filesystem::path& root) {
    std::vector<pid_t> found;
    const std::string marker = "QV_SYSTEM_ROOT=" + root.string();
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return found;
    while (dirent* entry = readdir(proc)) {
        pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0 || pid == getpid() || !ProcessRunning(pid)) continue;
        std::string environ = ProcFile(pid, "environ");
        for (size_t start = 0; start < environ.size();) {
            size_t end = environ.find('\0', start);
            if (end == std::string::npos) end = environ.size();
            if (environ.compare(start, end - start, marker) == 0) {
                found.push_back(pid);
                break;
            }
            start = end + 1;
        }
    }
    closedir(proc);
    return found;
}

// Ends every process still running on `root` and waits (at most 10 s) until they are gone.
inline void EndRootProcesses(const std::filesystem::path& root) {
    std::vector<pid_t> left = RootProcesses(root);
    for (pid_t pid : left) kill(pid, SIGKILL);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (pid_t pid : left)
        while (ProcessRunning(pid) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace qv::test
