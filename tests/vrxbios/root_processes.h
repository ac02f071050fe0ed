// Waiting for the processes of a test's system root (the instrumentation service, provider servers, drivers)
// to end by themselves, for tests that must not leave any behind.
#pragma once

#include "qv_root_processes.h"
#include "qv_wait.h"

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

inline std::string ReadWholeFile(const std::filesystem::path& path) { return ReadProcFile(path.string()); }

// Waits (bounded) for every process of the root to end; kills and returns those that did not.
inline std::vector<pid_t> AwaitRootProcessesGone(const std::filesystem::path& root, std::chrono::seconds limit) {
    std::vector<pid_t> left;
    WaitUntil(
        [&] {
            left = RootProcesses(root);
            return left.empty();
        },
        limit);
    for (pid_t pid : left) kill(pid, SIGKILL);
    return left;
}
