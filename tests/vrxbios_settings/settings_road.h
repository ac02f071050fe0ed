// The real road of a settings request, on a fresh temporary system root made from a machine profile: the
// client tool (build/bin/wmi) in its own process, the instrumentation service it starts, vrxBIOS started by
// the service with -Embedding, the settings library it writes out and binds, the library's driver, and the
// simulated machine. The schema is compiled with build/bin/mofcomp; the server registration is vrxBIOS's own.
#pragma once

#include "ServerRegistration.h"
#include "objbase.h"
#include "qv_child_process.h"
#include "qv_temp_root.h"
#include "qv_test_paths.h"
#include "qv_wait.h"

#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace road {

using namespace std::chrono_literals;

struct Result {
    int code = -1;
    std::string out, err;
};

inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline bool Alive(pid_t pid) {
    if (kill(pid, 0) != 0) return false;
    std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
    auto close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'Z';
}

// The executable's name of a process ("" when it is gone).
inline std::string ProgramOf(pid_t pid) {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
    return ec ? std::string() : exe.filename().string();
}

class SettingsRoadTest : public TempRootTest {
protected:
    // Compiles the schema and registers the server on a fresh root made from `machine` (a profile name or
    // file). The service keeps an idle provider for providerIdleMs before it releases it.
    void Prepare(const std::string& machine, int providerIdleMs = 2500) {
        setenv("QV_MACHINE", machine.c_str(), 1);
        setenv("QV_WBEM_SERVICE", (BuildTree() + "/bin/winmgmt").c_str(), 1);
        setenv("QV_WBEM_SERVICE_IDLE_MS", "500", 1);
        setenv("QV_WBEM_PROVIDER_IDLE_MS", std::to_string(providerIdleMs).c_str(), 1);
        debug_output_ = root_ / "debug-output.txt";
        setenv("QV_DEBUG_OUTPUT", debug_output_.c_str(), 1);
        for (const char* mof : {"common.mof", "swprov.mof"}) {
            Result compiled = Run({BuildTree() + "/bin/mofcomp", SourceTree() + "/mof/" + mof});
            ASSERT_EQ(compiled.code, 0) << compiled.out << compiled.err;
        }
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        com_ = true;
        std::wstring program = qv::win::FromUtf8(BuildTree() + "/bin/vrxBIOS");
        ASSERT_EQ(RegisterServer(program.c_str()), S_OK);
    }

    void TearDown() override {
        if (com_) CoUninitialize();
        // Service, provider and driver end by themselves once idle; one that does not is a failure (and is
        // killed).
        auto deadline = std::chrono::steady_clock::now() + 40s;
        for (pid_t pid : RootProcesses()) {
            WaitUntil([&] { return !Alive(pid); }, deadline - std::chrono::steady_clock::now());
            if (Alive(pid)) {
                ADD_FAILURE() << ProgramOf(pid) << " (" << pid << ") did not exit";
                kill(pid, SIGKILL);
            }
        }
        for (const char* name : {"QV_MACHINE", "QV_WBEM_SERVICE", "QV_WBEM_SERVICE_IDLE_MS", "QV_WBEM_PROVIDER_IDLE_MS",
                                 "QV_DEBUG_OUTPUT"})
            unsetenv(name);
        TempRootTest::TearDown();
    }

    // Processes other than this one that run on this test's root; only those of `program` when given (the
    // program file's name up to its extension, in any case: the driver runs as "Zmrdtct.sys").
    std::vector<pid_t> RootProcesses(const std::string& program = "") {
        std::vector<pid_t> found = ::RootProcesses(root_);
        if (!program.empty()) std::erase_if(found, [&](pid_t pid) { return !IsProgram(ProgramOf(pid), program); });
        return found;
    }
    static bool IsProgram(const std::string& file, const std::string& program) {
        return file.size() >= program.size() && strncasecmp(file.c_str(), program.c_str(), program.size()) == 0 &&
               (file.size() == program.size() || file[program.size()] == '.' || file[program.size()] == ' ');
    }

    // Runs a program with its output in files of the root; waits at most `limit`.
    Result Run(const std::vector<std::string>& args, std::chrono::seconds limit = 60s) {
        Result r;
        r.code = WaitChild(StartChild(args, root_ / "run.out", root_ / "run.err"), limit);
        r.out = ReadText(root_ / "run.out");
        r.err = ReadText(root_ / "run.err");
        return r;
    }

    // The client tool with JSON output.
    Result Wmi(std::vector<std::string> args) {
        args.insert(args.begin(), {BuildTree() + "/bin/wmi", "--format", "json"});
        return Run(args);
    }
    // The objects a client command returned; a failed command fails the test and gives none.
    nlohmann::json Objects(const std::vector<std::string>& args) {
        Result r = Wmi(args);
        EXPECT_EQ(r.code, 0) << r.err;
        if (r.code != 0) return nlohmann::json::array();
        return nlohmann::json::parse(r.out);
    }

    std::string DebugOutput() { return ReadText(debug_output_); }

    std::filesystem::path debug_output_;
    bool com_ = false;
};

}  // namespace road
