// The processes that run on one system root (their environment names it), for tests that must not leave any
// behind: the instrumentation service, provider servers and drivers end by themselves once idle.
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

inline std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Alive and not a zombie.
inline bool ProcessAlive(pid_t pid) {
    if (kill(pid, 0) != 0) return false;
    std::string stat = ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
    auto close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'Z';
}

inline std::vector<pid_t> RootProcesses(const std::filesystem::path& root) {
    std::vector<pid_t> found;
    std::string marker = "QV_SYSTEM_ROOT=" + root.string();
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return found;
    while (dirent* entry = readdir(proc)) {
        pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0 || pid == getpid() || !ProcessAlive(pid)) continue;
        std::string variables = ReadWholeFile("/proc/" + std::to_string(pid) + "/environ");
        for (size_t start = 0; start < variables.size();) {
            size_t end = variables.find('\0', start);
            if (end == std::string::npos) end = variables.size();
            if (variables.compare(start, end - start, marker) == 0) found.push_back(pid);
            start = end + 1;
        }
    }
    closedir(proc);
    return found;
}

// Waits (bounded) for every process of the root to end; kills and names those that did not.
inline std::vector<pid_t> AwaitRootProcessesGone(const std::filesystem::path& root, std::chrono::seconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    std::vector<pid_t> left = RootProcesses(root);
    while (!left.empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        left = RootProcesses(root);
    }
    for (pid_t pid : left) kill(pid, SIGKILL);
    return left;
}
