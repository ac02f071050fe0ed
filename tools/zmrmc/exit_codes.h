// Exit codes of zmrmc, shared by every command, and the error a command stops with.
#pragma once

#include <stdexcept>
#include <string>

enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,   // the library, the firmware, a file or a named setting could not be used
    kExitUsage = 2,    // the command line is wrong
    kExitChanges = 3,  // diff: applying the file would change settings
    kExitSkipped = 4,  // diff: the file names settings or values that applying it would skip
};

// The exit codes as `zmrmc --help` lists them.
inline constexpr const char* kExitCodesHelp =
    "Exit codes:\n"
    "  0  success (diff: applying the file would change nothing)\n"
    "  1  failure: the library, the firmware, a file or a named setting could not be used\n"
    "  2  wrong command line\n"
    "  3  diff: applying the file would change settings\n"
    "  4  diff: the file names settings or values that applying it would skip, listed on standard error\n"
    "     (4 is given also when there are changes)\n";

// A command's failure: the message names the setting or the file and the reason ("zmrmc: " goes before it).
class CommandError : public std::runtime_error {
public:
    explicit CommandError(const std::string& message, int code = kExitFailed)
        : std::runtime_error(message), code_(code) {}
    int code() const { return code_; }

private:
    int code_;
};
