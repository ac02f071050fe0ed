// A fresh system root in a temporary folder for each test; what still runs on it at the end (a service the
// COM runtime started on demand) is ended with it.
#pragma once

#include "qv_root_processes.h"
#include "qv_system_root.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

class TempRootTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qv-root-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        setenv("QV_SYSTEM_ROOT", root_.c_str(), 1);
        qv::win::ResetSystemRootForTesting();
    }
    void TearDown() override {
        EndRootProcesses(root_);
        std::filesystem::remove_all(root_);
        unsetenv("QV_SYSTEM_ROOT");
        qv::win::ResetSystemRootForTesting();
    }
    std::filesystem::path root_;
};
