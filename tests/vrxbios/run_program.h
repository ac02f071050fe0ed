// Runs a program of the build as a child process with a chosen environment and captures what it leaves:
// exit code, standard error and the debugger output.
#pragma once

#include "qv_child_process.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
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
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> environment{"QV_SYSTEM_ROOT=" + root.string(), "QV_DEBUG_OUTPUT=" + debug.string(),
                                         "QV_MESSAGEBOX_ANSWERS"};
    environment.insert(environment.end(), env.begin(), env.end());
    ProgramRun run;
    int code = WaitChild(StartChild(argv, {}, errors, environment), std::chrono::seconds(30));
    if (code >= 0) run.exit_code = code;
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
