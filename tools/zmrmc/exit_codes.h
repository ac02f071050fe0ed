// Exit codes of zmrmc, shared by every command, and the error a command stops with.
#pragma once

#include <stdexcept>
#include <string>

enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,    // the library, the firmware, a file or a named setting could not be used
    kExitUsage = 2,     // the command line is wrong
    kExitChanges = 3,   // diff: applying the file would change settings
    kExitSkipped = 4,   // diff, apply: the file names settings or values that applying it skips
    kExitNotTaken = 5,  // apply, set, defaults: a setting does not hold the value asked for after the write
    kExitPassword = 6,  // a password did not match or was refused; nothing was written
};

// The exit codes as `zmrmc --help` lists them.
inline constexpr const char* kExitCodesHelp =
    "Exit codes:\n"
    "  0  success (diff: applying the file would change nothing)\n"
    "  1  failure: the library, the firmware, a file or a named setting could not be used\n"
    "  2  wrong command line\n"
    "  3  diff: applying the file would change settings\n"
    "  4  diff, apply: the file names settings or values that applying it skips, listed on standard error\n"
    "     (4 is given also when there are changes; apply writes every other setting)\n"
    "  5  apply, set, defaults: a setting does not hold the value asked for after the write (named on standard\n"
    "     error; apply gives 5 before 4)\n"
    "  6  password: the password does not match, or the firmware refused the new one; apply, set, defaults:\n"
    "     the setup password is missing or does not match (nothing was written)\n";

// A command's failure: the message names the setting or the file and the reason ("zmrmc: " goes before it).
class CommandError : public std::runtime_error {
public:
    explicit CommandError(const std::string& message, int code = kExitFailed)
        : std::runtime_error(message), code_(code) {}
    int code() const { return code_; }

private:
    int code_;
};
