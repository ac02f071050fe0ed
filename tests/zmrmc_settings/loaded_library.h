// libZmrMC.so loaded by path in the test's system root, as the provider loads it, with its exports found by
// name. The driver it starts ends with the test process.
#pragma once

#include "ZmrMC.h"
#include "qv_system_root.h"
#include "qv_test_paths.h"
#include "windows.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

class LoadedLibrary {
public:
    LoadedLibrary() = default;
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;
    ~LoadedLibrary() { Unload(); }

    // Loads the library for the machine `profile` (a shipped name or a file) without initialising it.
    bool Load(const std::string& profile) {
        setenv("QV_MACHINE", profile.c_str(), 1);
        setenv("QV_DRIVER_WATCH_PID", std::to_string(getpid()).c_str(), 1);
        qv::win::SystemRoot();
        std::wstring path = qv::win::FromUtf8(BuildTree() + "/lib/libZmrMC.so");
        module_ = LoadLibraryW(path.c_str());
        return module_ != nullptr;
    }
    void Unload() {
        if (module_ != nullptr) FreeLibrary(module_);  // stops and removes the driver
        module_ = nullptr;
        unsetenv("QV_MACHINE");
    }

    // The export `name` as a pointer of the export's type; a test failure when it is missing.
    template <typename F>
    F Get(const char* name) {
        void* p = module_ != nullptr ? reinterpret_cast<void*>(GetProcAddress(module_, name)) : nullptr;
        EXPECT_NE(p, nullptr) << name;
        return reinterpret_cast<F>(p);
    }

private:
    HMODULE module_ = nullptr;
};

#define ZMRMC_EXPORT(library, name) (library).Get<decltype(&name)>(#name)
