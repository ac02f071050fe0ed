// Pipes, handle duplication, child processes and shell deletion, with real host processes.
#include "qv_temp_root.h"
#include "shellapi.h"
#include "windows.h"
#include "qv_wait.h"

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

class ProcessesTest : public TempRootTest {
protected:
    // Starts the command line with its output in a pipe and returns everything it printed.
    std::string RunAndRead(const std::wstring& line, DWORD* exit_code = nullptr) {
        SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE read = nullptr, write = nullptr;
        EXPECT_TRUE(CreatePipe(&read, &write, &inheritable, 0));
        HANDLE own_read = nullptr;
        EXPECT_TRUE(DuplicateHandle(GetCurrentProcess(), read, GetCurrentProcess(), &own_read, 0, FALSE,
                                    DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE));
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = write;
        startup.hStdError = write;
        PROCESS_INFORMATION process{};
        std::wstring text = line;
        bool started = CreateProcessW(nullptr, text.data(), nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr,
                                      nullptr, &startup, &process);
        CloseHandle(write);
        std::string output;
        char chunk[64];
        DWORD got = 0;
        while (ReadFile(own_read, chunk, sizeof chunk, &got, nullptr) && got > 0) output.append(chunk, got);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
        CloseHandle(own_read);
        if (started) {
            DWORD code = STILL_ACTIVE;
            WaitUntil(
                [&] {
                    GetExitCodeProcess(process.hProcess, &code);
                    return code != STILL_ACTIVE;
                },
                10s);
            if (exit_code != nullptr) *exit_code = code;
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        return output;
    }
};

TEST_F(ProcessesTest, PipeCarriesBytesAndReportsItsClosedEnds) {
    HANDLE read = nullptr, write = nullptr;
    ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 0));
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(write, "abc", 3, &done, nullptr));
    EXPECT_EQ(done, 3u);
    ASSERT_TRUE(CloseHandle(write));
    char buffer[8] = {};
    ASSERT_TRUE(ReadFile(read, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(std::string(buffer, done), "abc");
    EXPECT_FALSE(ReadFile(read, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    CloseHandle(read);

    ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 0));
    CloseHandle(read);
    EXPECT_FALSE(WriteFile(write, "x", 1, &done, nullptr));  // no reader left: no signal, an error
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_DATA));
    CloseHandle(write);
}

TEST_F(ProcessesTest, DuplicateHandleCopiesPipeEndsOnly) {
    HANDLE read = nullptr, write = nullptr, copy = nullptr;
    ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 0));
    ASSERT_TRUE(
        DuplicateHandle(GetCurrentProcess(), write, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS));
    CloseHandle(write);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(copy, "z", 1, &done, nullptr));  // the copy keeps the pipe open
    CloseHandle(copy);
    char c = 0;
    ASSERT_TRUE(ReadFile(read, &c, 1, &done, nullptr));
    EXPECT_EQ(c, 'z');

    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &copy, 0, FALSE, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_FALSE(DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(0x1234), GetCurrentProcess(), &copy, 0,
                                 FALSE, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    CloseHandle(event);
    CloseHandle(read);
}

TEST_F(ProcessesTest, ChildGetsWindowsArgumentsAndItsOutputArrives) {
    DWORD code = 0;
    // Backslashes stay literal, quotes group, \" is a literal quote; standard error reaches the pipe too.
    std::string out = RunAndRead(
        LR"(sh -c "printf '[%s][%s]' \"$0\" \"$1\"; echo E >&2; exit 3" "C:\dir with space\x.mof" a\"b)", &code);
    EXPECT_EQ(out, "[C:\\dir with space\\x.mof][a\"b]E\n");
    EXPECT_EQ(code, 3u);
}

TEST_F(ProcessesTest, ProgramIsFoundInTheSystemFolderAndGetsTheRoot) {
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    auto tool = qv::win::HostPath(std::wstring(system) + L"\\qvtool");
    std::ofstream(tool) << "#!/bin/sh\necho \"$QV_SYSTEM_ROOT\"\n";
    std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
    EXPECT_EQ(RunAndRead(L"qvtool"), qv::win::SystemRoot().string() + "\n");
}

TEST_F(ProcessesTest, MissingProgramAndBadArgumentsFail) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring missing = L"qv-no-such-program --x";
    EXPECT_FALSE(
        CreateProcessW(nullptr, missing.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    std::wstring blank = L"   ";
    EXPECT_FALSE(
        CreateProcessW(nullptr, blank.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(ProcessesTest, NonInheritableOutputLeavesTheChildSilent) {
    HANDLE read = nullptr, write = nullptr;
    ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 0));  // not inheritable
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    PROCESS_INFORMATION process{};
    std::wstring line = L"sh -c \"echo hidden\"";
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process));
    CloseHandle(write);
    char c;
    DWORD done = 0;
    EXPECT_FALSE(ReadFile(read, &c, 1, &done, nullptr));
    CloseHandle(read);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
}

TEST_F(ProcessesTest, ShellDeletesFolderTreesAndRefusesRoots) {
    auto tree = qv::win::HostPath(std::wstring(L"C:\\WINDOWS\\TEMP\\work"));
    std::filesystem::create_directories(tree / "inner");
    std::ofstream(tree / "inner" / "f.txt") << "x";
    auto op = [](const wchar_t* list) {
        SHFILEOPSTRUCTW o{};
        o.wFunc = FO_DELETE;
        o.pFrom = list;
        o.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
        return SHFileOperationW(&o);
    };
    EXPECT_EQ(op(L"C:\\WINDOWS\\TEMP\\work\0"), 0);
    EXPECT_FALSE(std::filesystem::exists(tree));
    EXPECT_EQ(op(L"C:\\WINDOWS\\TEMP\\work\0"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(op(L"C:\\\0"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(op(L"C:\\WINDOWS\\TEMP\\*\0"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(op(L"\0"), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(std::filesystem::exists(qv::win::HostPath(std::wstring(L"C:\\WINDOWS\\TEMP"))));
}

}  // namespace
