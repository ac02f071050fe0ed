// Fixture for tests that talk to the test server: a fresh system root with the server registered, COM
// initialised for the test thread, and no server process left behind afterwards.
#pragma once

#include "atlbase.h"
#include "objbase.h"
#include "qv_temp_root.h"
#include "statreg.h"
#include "test_classes.h"
#include "wrl/client.h"
#include "qv_wait.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

// ProcessAlive: qv_root_processes.h (through qv_temp_root.h).
inline bool WaitForExit(pid_t pid, std::chrono::seconds limit = std::chrono::seconds(15)) {
    return WaitUntil([&] { return !ProcessAlive(pid); }, limit);
}

// The folder of the test programs (the test server and client are built beside this test).
inline std::string TestProgramDir() {
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : self.parent_path().string();
}

class ComServerTest : public TempRootTest {
protected:
    void SetUp() override {
        TempRootTest::SetUp();
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        RegisterTestValueClass();
        Microsoft::WRL::ComPtr<IRegistrar> registrar;
        ASSERT_EQ(CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IRegistrar,
                                   reinterpret_cast<void**>(registrar.GetAddressOf())),
                  S_OK);
        std::wstring module = qv::win::FromUtf8(TestProgramDir() + "/qv_com_test_server");
        registrar->AddReplacement(L"MODULE", module.c_str());
        ASSERT_EQ(registrar->StringRegister(kTestServerScript), S_OK);
    }
    void TearDown() override {
        // Whatever server a test started must end by itself; one that does not is a failure and is killed.
        for (pid_t pid : servers_) {
            EXPECT_TRUE(WaitForExit(pid)) << "server " << pid << " did not exit";
            if (ProcessAlive(pid)) kill(pid, SIGKILL);
        }
        CoUninitialize();
        TempRootTest::TearDown();
    }
    void Track(pid_t pid) { servers_.push_back(pid); }
    std::vector<pid_t> servers_;
};
