// Programs that tests start as child processes: standard input /dev/null (so never a terminal), standard
// output and error into files, a changed environment, and a bounded wait for the end.
#pragma once

#include "qv_wait.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

// Starts args[0] with `args`. Standard output and error go to `out` and `err` (created or truncated); an empty
// path leaves that stream as the test's own. `env` entries are "NAME=value" to set or "NAME" to remove.
// Returns the child's pid, or -1 when no process could be started.
inline pid_t StartChild(const std::vector<std::string>& args, const std::filesystem::path& out,
                        const std::filesystem::path& err, const std::vector<std::string>& env = {}) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    int in = open("/dev/null", O_RDONLY);
    dup2(in, STDIN_FILENO);
    if (!out.empty()) dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
    if (!err.empty()) dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
    for (const auto& entry : env) {
        size_t equals = entry.find('=');
        if (equals == std::string::npos)
            unsetenv(entry.c_str());
        else
            setenv(entry.substr(0, equals).c_str(), entry.c_str() + equals + 1, 1);
    }
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

// Waits for the child at most `limit`, killing it then. Returns its exit code, -1 when a signal ended it, -2
// when it was killed at the limit. `usage`, when given, receives the child's resource use.
inline int WaitChild(pid_t pid, std::chrono::milliseconds limit, struct rusage* usage = nullptr) {
    if (pid < 0) return -1;
    int status = 0;
    struct rusage ignored {};
    struct rusage* into = usage != nullptr ? usage : &ignored;
    if (!WaitUntil([&] { return wait4(pid, &status, WNOHANG, into) != 0; }, limit)) {
        kill(pid, SIGKILL);
        wait4(pid, &status, 0, into);
        return -2;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
