// A fresh system root whose machine is made from a chosen profile.
#pragma once

#include "qv_child_process.h"
#include "qv_firmware.h"
#include "qv_root_machine.h"
#include "qv_temp_root.h"
#include "qv_test_paths.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

class MachineTest : public TempRootTest {
protected:
    void SetUp() override {
        TempRootTest::SetUp();
        qv::win::ResetRootMachineForTesting();
        setenv("QV_DRIVER_WATCH_PID", std::to_string(getpid()).c_str(), 1);  // no driver outlives this test
    }
    void TearDown() override {
        unsetenv("QV_MACHINE");
        qv::win::ResetRootMachineForTesting();
        TempRootTest::TearDown();
    }
    std::shared_ptr<qv::machine::Machine> Use(const std::string& profile) {
        setenv("QV_MACHINE", profile.c_str(), 1);
        return qv::win::RootMachine();
    }
    // A profile written to a file in the root's parent folder, returned as a path for QV_MACHINE.
    std::string WriteProfile(const std::string& text) {
        std::string path = root_.string() + "-profile.json";
        std::ofstream(path) << text;
        written_.push_back(path);
        return path;
    }
    // A program of build/bin run on `root` with this test's QV_MACHINE: its exit code (-2 when it had to be
    // killed), its standard output and error together, and its debugger output. Both files lie beside the
    // temporary root, not in the installation.
    struct ProgramRun {
        int code = -1;
        std::string output, debug;
    };
    ProgramRun RunOnRoot(const std::string& program, const std::vector<std::string>& args,
                         const std::filesystem::path& root) {
        std::vector<std::string> argv{BuildTree() + "/bin/" + program};
        argv.insert(argv.end(), args.begin(), args.end());
        std::string out = root_.string() + "-" + program + ".out", debug = root_.string() + "-" + program + ".debug";
        written_.insert(written_.end(), {out, debug});
        std::remove(debug.c_str());
        const char* machine = std::getenv("QV_MACHINE");
        ProgramRun run;
        run.code = WaitChild(StartChild(argv, out, out,
                                        {"QV_SYSTEM_ROOT=" + root.string(), "QV_DEBUG_OUTPUT=" + debug,
                                         std::string("QV_MACHINE") + (machine ? std::string("=") + machine : ""),
                                         "QV_WBEM_SERVICE=" + BuildTree() + "/bin/winmgmt"}),
                             std::chrono::seconds(120));
        auto slurp = [](const std::string& path) {
            std::ifstream in(path);
            return std::string(std::istreambuf_iterator<char>(in), {});
        };
        run.output = slurp(out);
        run.debug = slurp(debug);
        return run;
    }
    ~MachineTest() override {
        for (const auto& p : written_) std::remove(p.c_str());
    }
    std::vector<std::string> written_;
};

// Real-mode memory for firmware calls made directly in tests.
class FlatMemory final : public qv::machine::RealModeMemory {
public:
    std::vector<uint8_t> bytes = std::vector<uint8_t>(0xA0000, 0);
    bool Read(uint32_t at, void* out, size_t size) override {
        if (at > bytes.size() || size > bytes.size() - at) return false;
        std::memcpy(out, bytes.data() + at, size);
        return true;
    }
    bool Write(uint32_t at, const void* in, size_t size) override {
        if (at > bytes.size() || size > bytes.size() - at) return false;
        std::memcpy(bytes.data() + at, in, size);
        return true;
    }
};
