// The processes that run on one test's system root (found by QV_SYSTEM_ROOT in their environment), for tests
// that start servers through COM and must see them end, or end them.
#pragma once

#include "qv_wait.h"

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

inline std::string ReadProcFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Running and not a zombie.
inline bool ProcessAlive(pid_t pid) {
    if (pid <= 0 || kill(pid, 0) != 0) return false;
    std::string stat = ReadProcFile("/proc/" + std::to_string(pid) + "/stat");
    auto close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'Z';
}

// Waits (bounded) until the process has ended; false when it still runs after `limit`.
inline bool WaitProcessGone(pid_t pid, std::chrono::milliseconds limit) {
    return WaitUntil([&] { return !ProcessAlive(pid); }, limit);
}

// Live processes other than this one whose environment names `root`; only those running `program` (a
// path) when it is given.
inline std::vector<pid_t> RootProcesses(const std::filesystem::path& root, const std::string& program = "") {
    std::vector<pid_t> found;
    std::string marker = "QV_SYSTEM_ROOT=" + root.string();
    std::error_code ec;
    std::string wanted = program.empty() ? "" : std::filesystem::weakly_canonical(program, ec).string();
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return found;
    while (dirent* entry = readdir(proc)) {
        pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0 || pid == getpid() || !ProcessAlive(pid)) continue;
        std::string dir = "/proc/" + std::to_string(pid);
        if (!wanted.empty() && std::filesystem::read_symlink(dir + "/exe", ec).string() != wanted) continue;
        std::string variables = ReadProcFile(dir + "/environ");
        for (size_t start = 0; start < variables.size();) {
            size_t end = variables.find('\0', start);
            if (end == std::string::npos) end = variables.size();
            if (variables.compare(start, end - start, marker) == 0) {
                found.push_back(pid);
                break;
            }
            start = end + 1;
        }
    }
    closedir(proc);
    return found;
}

// Ends every process still running on `root` (what the COM runtime or the library started for a test: the
// service, a provider, a driver) and waits, at most 10 s, until they are gone.
inline void EndRootProcesses(const std::filesystem::path& root) {
    std::vector<pid_t> left = RootProcesses(root);
    for (pid_t pid : left) kill(pid, SIGKILL);
    for (pid_t pid : left) WaitProcessGone(pid, std::chrono::seconds(10));
}
