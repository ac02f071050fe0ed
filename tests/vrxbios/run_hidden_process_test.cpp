// RunHiddenProcess with real child processes: what reaches the debugger output and when it returns.
#include "RunHiddenProcess.h"

#include "qv_temp_root.h"
#include "root_processes.h"

#include <cstdlib>
#include <string>

namespace {

class RunHiddenProcessTest : public TempRootTest {
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
    std::string Debug() const { return ReadWholeFile(debug_); }
    std::filesystem::path debug_;
};

// Standard output and standard error both arrive; ANSI text is converted (0xE9 is e-acute in Windows-1252).
TEST_F(RunHiddenProcessTest, CopiesOutputAndErrorsToTheDebuggerOutput) {
    EXPECT_EQ(RunHiddenProcess(LR"(sh -c "printf 'out\n'; printf 'caf\351\n' >&2")"), 1);
    EXPECT_EQ(Debug(), "out\ncafé\n");
}

// A grandchild that keeps the output pipe open is waited for: everything arrives before the return.
TEST_F(RunHiddenProcessTest, ReadsUntilEveryHolderOfThePipeHasClosedIt) {
    EXPECT_EQ(RunHiddenProcess(LR"(sh -c "(sleep 1; echo late) & echo early")"), 1);
    EXPECT_EQ(Debug(), "early\nlate\n");
}

// Output longer than one chunk arrives whole, in pieces of at most 512 bytes.
TEST_F(RunHiddenProcessTest, LongOutputArrivesInChunks) {
    EXPECT_EQ(RunHiddenProcess(LR"(sh -c "head -c 1300 /dev/zero | tr '\0' x")"), 1);
    std::string text = Debug();
    std::string joined;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        std::string piece = text.substr(at, end - at);
        EXPECT_LE(piece.size(), 512u);
        joined += piece;
        at = end == std::string::npos ? text.size() : end + 1;
    }
    EXPECT_EQ(joined, std::string(1300, 'x'));
}

// A program that cannot be started is traced with the system's text; the runner still answers 1.
TEST_F(RunHiddenProcessTest, MissingProgramIsTracedAndStillAnswersOne) {
    EXPECT_EQ(RunHiddenProcess(L"qv-no-such-compiler \"C:\\x.mof\""), 1);
    std::string text = Debug();
    EXPECT_EQ(text.substr(0, 24), "CreateProcess() failed.\n");
    EXPECT_GT(text.size(), 24u);  // the system's text of ERROR_FILE_NOT_FOUND follows
}

// The child's standard input is a pipe nobody writes to and that is closed: reading it ends at once.
TEST_F(RunHiddenProcessTest, ChildInputIsAnEmptyPipe) {
    EXPECT_EQ(RunHiddenProcess(LR"(sh -c "cat; echo done")"), 1);
    EXPECT_EQ(Debug(), "done\n");
}

}  // namespace
