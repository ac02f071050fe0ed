// Debug trace, error reports, the working folder and resource extraction.

#include "DebugTrace.h"
#include "ResourceFile.h"
#include "WorkingFolder.h"
#include "qv_temp_root.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

class HostServicesTest : public TempRootTest {
protected:
    void SetUp() override {
        TempRootTest::SetUp();
        debug_ = root_ / "debug.txt";
        setenv("QV_DEBUG_OUTPUT", debug_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("QV_DEBUG_OUTPUT");
        TempRootTest::TearDown();
    }
    std::string Debug() {
        std::ifstream in(debug_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static std::string Read(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::filesystem::path debug_;
};

const char kPayload[] = "0123456789abcdefghijklmnopqrstuvwxyz";

TEST_F(HostServicesTest, DebugTraceUsesWindowsWidePrintfConventions) {
    DebugTrace(L"bSilent: %s\n", L"true");
    DebugTrace(L"%S|%hs|%c|%d|0x%X|%I64d|%%\n", "narrow", "also", L'w', -5, 0x80041010u, 1LL << 40);
    DebugTrace(nullptr);
    EXPECT_EQ(Debug(), "bSilent: true\nnarrow|also|w|-5|0x80041010|1099511627776|%\n");
}

TEST_F(HostServicesTest, DebugTraceCutsTextThatDoesNotFit) {
    // A format of 2 characters gets 4 * 257 characters of room, the terminating NUL included.
    std::wstring long_text(5000, L'a');
    DebugTrace(L"%s", long_text.c_str());
    std::string out = Debug();
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.size(), 4u * 257u - 1u + 1u);  // the cut text and the line end
}

TEST_F(HostServicesTest, ReportLastErrorWritesTheSystemText) {
    SetLastError(0);
    ReportLastError(0);
    EXPECT_EQ(Debug(), "");
    ReportLastError(ERROR_FILE_NOT_FOUND);
    SetLastError(ERROR_ACCESS_DENIED);
    ReportLastError(0);
    ReportLastError(0x7654321);  // no text: nothing
    EXPECT_EQ(Debug(), "The system cannot find the file specified.\r\nAccess is denied.\r\n");
}

TEST_F(HostServicesTest, WorkingFolderIsUnderTheTemporaryFolder) {
    LPWSTR folder = GetWorkingFolder(L"vrxBIOS");
    ASSERT_NE(folder, nullptr);
    EXPECT_STREQ(folder, L"C:\\WINDOWS\\TEMP\\vrxBIOS\\");
    delete[] folder;
    folder = GetWorkingFolder(L"\\sub\\");
    ASSERT_NE(folder, nullptr);
    EXPECT_STREQ(folder, L"C:\\WINDOWS\\TEMP\\sub\\");
    delete[] folder;
}

TEST_F(HostServicesTest, ReadOnlyTemporaryFolderFallsBackToTheProgramFolder) {
    std::filesystem::path temp = qv::win::SystemRoot() / "drive_c" / "WINDOWS" / "TEMP";
    ASSERT_EQ(chmod(temp.c_str(), 0555), 0);
    LPWSTR folder = GetWorkingFolder(L"vrxBIOS");
    chmod(temp.c_str(), 0755);
    ASSERT_NE(folder, nullptr);
    std::wstring result = folder;
    delete[] folder;
    std::wstring program_folder = std::filesystem::canonical("/proc/self/exe").parent_path().wstring();
    EXPECT_EQ(result, program_folder + L"\\vrxBIOS\\");
}

TEST_F(HostServicesTest, ExtractWritesTheResourceAndReplacesAnOldFile) {
    std::filesystem::path target = root_ / "drive_c" / "WINDOWS" / "TEMP" / "payload.bin";
    std::ofstream(target) << "stale content that is longer than the payload itself, by far";
    ExtractResourceFile(QvCurrentModule(), 7, L"C:\\WINDOWS\\TEMP\\payload.bin");
    EXPECT_EQ(Read(target), kPayload);
}

TEST_F(HostServicesTest, ExtractOfAMissingResourceWritesNothing) {
    ExtractResourceFile(QvCurrentModule(), 8, L"C:\\WINDOWS\\TEMP\\none.bin");
    EXPECT_FALSE(std::filesystem::exists(root_ / "drive_c" / "WINDOWS" / "TEMP" / "none.bin"));
}

TEST_F(HostServicesTest, ExtractKeepsWhatItCannotDelete) {
    // A folder in the way cannot be deleted as a file: it stays, and a warning is traced.
    std::filesystem::path in_the_way = root_ / "payload.bin";
    std::filesystem::create_directory(in_the_way);
    std::ofstream(in_the_way / "inside") << "kept";
    ExtractResourceFile(QvCurrentModule(), 7, in_the_way.wstring().c_str());
    EXPECT_EQ(Read(in_the_way / "inside"), "kept");
    EXPECT_EQ(Debug(), "[Warning] Pre-existing module found at [" + in_the_way.string() + "].\n");
}

TEST_F(HostServicesTest, WriteErrorLeavesNoPartialFile) {
    // A file-size limit below the resource's size makes the write fail part-way. The trace goes through a
    // pipe, which the limit does not touch.
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    int saved_stderr = dup(STDERR_FILENO);
    dup2(pipe_ends[1], STDERR_FILENO);
    setenv("QV_DEBUG_OUTPUT", "-", 1);
    struct rlimit old_limit {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    struct rlimit small = old_limit;
    small.rlim_cur = 10;
    auto old_handler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    ExtractResourceFile(QvCurrentModule(), 7, L"C:\\WINDOWS\\TEMP\\payload.bin");
    setrlimit(RLIMIT_FSIZE, &old_limit);
    signal(SIGXFSZ, old_handler);
    dup2(saved_stderr, STDERR_FILENO);
    close(saved_stderr);
    close(pipe_ends[1]);
    char text[512] = {};
    ssize_t n = read(pipe_ends[0], text, sizeof text - 1);
    close(pipe_ends[0]);
    EXPECT_FALSE(std::filesystem::exists(root_ / "drive_c" / "WINDOWS" / "TEMP" / "payload.bin"));
    EXPECT_GT(n, 0);
    EXPECT_STREQ(text, "There is not enough space on the disk.\r\n");
}

}  // namespace
