// The terminal form of qvpwdctl on a pseudo-terminal, and the same keys typed into the dialog: the same
// encodings either way.

#include "dialog_fixture.h"

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>

namespace {

struct SameKeys {
    const char* name;
    const char* dialog_keys;    // xdotool, ending with the key that closes the dialog
    const char* terminal_keys;  // the characters a terminal sends for the same keys
    const char* expected;
    int bells;
};

const SameKeys kSameKeys[] = {
    {"a, Shift+a", "key a shift+a Return", "aA\r", "<kbd/>1E9E", 0},
    {"digits and their shifted characters", "key 1 shift+1 minus shift+equal Return", "1!-+\r", "<kbd/>02820C8D", 0},
    {"slash refused, Shift+slash", "key slash shift+slash Return", "/?\r", "<kbd/>B5", 1},
    {"space and brackets", "key space bracketleft shift+bracketright Return", " [}\r", "<kbd/>391A9B", 0},
    {"33rd key refused", "key z z z z z z z z z z z z z z z z z z z z z z z z z z z z z z z z z Return",
     "zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz\r", "<kbd/>2C2C2C2C2C2C2C2C2C2C2C2C2C2C2C2C2C2C2C2C2C2C2C2C2C2C2C2C2C2C2C2C",
     1},
    {"Backspace, caret keys, Delete", "key a b c Left BackSpace Home Delete Return", "abc\x1b[D\x7f\x1b[H\x1b[3~\r",
     "<kbd/>2E", 0},
    {"Backspace at the start", "key BackSpace a Return",
     "\x7f"
     "a\r",
     "<kbd/>1E", 1},
    {"Ctrl with a letter refused", "key a ctrl+d Return", "a\x04\r", "<kbd/>1E", 1},
    {"Cancel after typing", "key a b Escape", "ab\x1b", "", 0},
};

struct TerminalRun {
    int exit_code = -1;
    std::string output;  // everything the program wrote to the terminal
};

// Runs the stand-alone program without a display on a new pseudo-terminal and types `keys` once its prompt
// is there.
TerminalRun RunOnTerminal(const std::filesystem::path& root, const std::string& keys) {
    TerminalRun run;
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        unsetenv("DISPLAY");
        setenv("QV_SYSTEM_ROOT", root.c_str(), 1);
        std::string program = BuildTree() + "/bin/qvpwdctl";
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid < 0) return run;
    bool typed = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char buffer[4096];
            ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0) break;  // the program has ended: the terminal hangs up
            run.output.append(buffer, static_cast<size_t>(n));
        }
        if (!typed && run.output.find("password: ") != std::string::npos) {
            EXPECT_EQ(write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
            typed = true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "the terminal form did not end; it wrote:\n" << run.output;
            kill(pid, SIGKILL);
            break;
        }
    }
    close(master);
    run.exit_code = WaitChild(pid, std::chrono::seconds(10));
    return run;
}

// The encoding the terminal form reported, or "" when it reported none.
std::string ReportedEncoding(const std::string& output) {
    const std::string label = "Keyboard encoding: ";
    size_t at = output.find(label);
    if (at == std::string::npos) return "";
    size_t end = output.find_first_of("\r\n", at);
    return output.substr(at + label.size(), end - at - label.size());
}

class TerminalTest : public TempRootTest {};

TEST_F(TerminalTest, TerminalFormEncodesTheKeys) {
    for (const SameKeys& c : kSameKeys) {
        SCOPED_TRACE(c.name);
        TerminalRun run = RunOnTerminal(root_, c.terminal_keys);
        EXPECT_EQ(run.exit_code, 0) << run.output;
        EXPECT_EQ(ReportedEncoding(run.output), c.expected) << run.output;
        EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\a'), c.bells) << run.output;
        // One "*" per code kept, nothing of the characters typed.
        size_t codes = std::string(c.expected).empty() ? 0 : (std::string(c.expected).size() - 6) / 2;
        size_t last = run.output.rfind("password: ");
        std::string shown = run.output.substr(last + 10, run.output.find('\x1b', last) - last - 10);
        if (codes > 0) {
            EXPECT_EQ(shown, std::string(codes, '*'));
        }
        EXPECT_EQ(run.output.find("zzz"), std::string::npos);
    }
}

// The terminal's raw mode ends with the program: the line discipline is back to what it was.
TEST_F(TerminalTest, TerminalSettingsAreRestored) {
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        for (int fd : {0, 1, 2}) dup2(slave, fd);
        unsetenv("DISPLAY");
        std::string program = BuildTree() + "/bin/qvpwdctl";
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string output;
    ASSERT_TRUE(desktop::WaitUntil([&] {
        char buffer[256];
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 10) > 0) {
            ssize_t n = read(master, buffer, sizeof buffer);
            if (n > 0) output.append(buffer, static_cast<size_t>(n));
        }
        return output.find("password: ") != std::string::npos;
    }));
    termios during{};
    ASSERT_EQ(tcgetattr(slave, &during), 0);
    EXPECT_EQ(during.c_lflag & (ECHO | ICANON), 0u);
    ASSERT_EQ(write(master, "a\r", 2), 2);
    EXPECT_EQ(WaitChild(pid, std::chrono::seconds(20)), 0);
    termios after{};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    close(slave);
    close(master);
}

// The same keys into the dialog (GetPassword through COM) give what the terminal form gives.
TEST_F(DialogTest, DialogGivesTheTerminalFormsEncodings) {
    int dialogs = 0;
    for (const SameKeys& c : kSameKeys) {
        SCOPED_TRACE(c.name);
        auto call = StartGetPassword(L"");
        WaitForDialog(++dialogs);
        Xdotool(c.dialog_keys);
        PasswordCall result = Finish(call);
        EXPECT_EQ(result.text, c.expected);
        TerminalRun run = RunOnTerminal(root_, c.terminal_keys);
        EXPECT_EQ(ReportedEncoding(run.output), result.text) << run.output;
    }
}

}  // namespace
