// Runs a program of the build as a child process with a chosen environment and captures what it leaves:
// exit code, standard error and the debugger output.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

struct ProgramRun {
    int exit_code = -1;  // -1: did not exit normally within the time limit
    std::string error_output;
    std::string debug_output;
};

// Starts `program` with `args` (standard input /dev/null, so no terminal), QV_SYSTEM_ROOT = root,
// QV_DEBUG_OUTPUT = a file in the root, and the extra `env` entries ("NAME=value"); waits at most 30 s.
inline ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                             const std::filesystem::path& root, const std::vector<std::string>& env = {}) {
    std::filesystem::path debug = root / "debug-output.txt";
    std::filesystem::path errors = root / "stderr.txt";
    std::filesystem::remove(debug);
    pid_t pid = fork();
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        int err = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, STDIN_FILENO);
        dup2(err, STDERR_FILENO);
        setenv("QV_SYSTEM_ROOT", root.c_str(), 1);
        setenv("QV_DEBUG_OUTPUT", debug.c_str(), 1);
        unsetenv("QV_MESSAGEBOX_ANSWERS");
        for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    ProgramRun run;
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            status = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (status != -1 && WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
    auto slurp = [](const std::filesystem::path& p) {
        std::ifstream in(p);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    };
    run.debug_output = slurp(debug);
    run.error_output = slurp(errors);
    return run;
}
