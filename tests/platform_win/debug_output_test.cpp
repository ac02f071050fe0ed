#include "windows.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class DebugOutput : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = ::testing::TempDir() + "debug-" + std::to_string(getpid()) + ".txt";
        std::filesystem::remove(path_);
        setenv("QV_DEBUG_OUTPUT", path_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("QV_DEBUG_OUTPUT");
        std::filesystem::remove(path_);
    }
    std::string path_;
};

TEST_F(DebugOutput, EachCallIsOneLineAppended) {
    OutputDebugStringW(L"Initializing Provider....");
    OutputDebugStringA("Throwing HRESULT exception BIOSInterface.cpp:12 (0x80041010)\n");
    OutputDebugStringW(L"caf\u00e9");
    OutputDebugStringA("\xe9");  // ANSI text is converted; the file is UTF-8
    EXPECT_EQ(ReadAll(path_),
              "Initializing Provider....\n"
              "Throwing HRESULT exception BIOSInterface.cpp:12 (0x80041010)\n"
              "caf\xc3\xa9\n"
              "\xc3\xa9\n");
}

TEST_F(DebugOutput, LinesOfSeveralProcessesNeverInterleave) {
    constexpr int kWriters = 4, kLines = 200;
    for (int w = 0; w < kWriters; ++w) {
        if (fork() == 0) {
            std::string line(100, static_cast<char>('a' + w));
            for (int i = 0; i < kLines; ++i) OutputDebugStringA(line.c_str());
            _exit(0);
        }
    }
    for (int w = 0; w < kWriters; ++w) wait(nullptr);
    std::istringstream lines(ReadAll(path_));
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        ASSERT_EQ(line, std::string(100, line.empty() ? '?' : line[0]));
    EXPECT_EQ(count, kWriters * kLines);
}

// Unset or empty, QV_DEBUG_OUTPUT sends debugger output nowhere: nothing on standard error, no file where the
// program runs. Set to "-", the same calls reach standard error (so the capture below would see a stray line).
TEST(DebugOutputUnset, GoesNowhere) {
    char pattern[] = "/tmp/qv-debug-unset-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path folder = pattern;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    for (const char* setting : {static_cast<const char*>(nullptr), ""}) {
        if (setting == nullptr)
            unsetenv("QV_DEBUG_OUTPUT");
        else
            setenv("QV_DEBUG_OUTPUT", setting, 1);
        ::testing::internal::CaptureStderr();
        OutputDebugStringA("nobody listens");
        OutputDebugStringW(L"nobody listens");
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << (setting == nullptr ? "unset" : "empty");
        EXPECT_TRUE(std::filesystem::is_empty(folder)) << (setting == nullptr ? "unset" : "empty");
    }
    setenv("QV_DEBUG_OUTPUT", "-", 1);
    ::testing::internal::CaptureStderr();
    OutputDebugStringA("somebody listens");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "somebody listens\n");
    unsetenv("QV_DEBUG_OUTPUT");
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(folder);
}

}  // namespace
