// A fresh system root whose machine is made from a chosen profile.
#pragma once

#include "qv_firmware.h"
#include "qv_root_machine.h"
#include "qv_temp_root.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>
#include <fstream>
#include <string>

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
