// Passwords: where zmrmc takes them from, and the forms the library needs of them.
//
// A password never comes from the command line, where other users can read it. A command asks for the
// passwords it needs in a fixed order (the setup password first, then an old and a new password, say). From
// a file (--password-file), a file descriptor (--password-fd) or standard input (--password-stdin) they are
// the lines in that order; without such a source the password entry control asks in its dialog when a
// display is there, and a terminal asks at a prompt without echo. A password is the keys that type it
// ("abc") or a tagged password ("<kbd/>1E3020", "<en-US/>abc").
#pragma once

#include "zmrmc_library.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <vector>

struct PasswordOptions {
    std::string file;
    int fd = -1;
    bool from_stdin = false;

    // Adds --password-file, --password-fd and --password-stdin to `app` (shared by every command).
    void AddTo(CLI::App& app);
    bool Given() const { return !file.empty() || fd >= 0 || from_stdin; }
};

struct Password {
    std::string scan_codes;  // what unlocks the firmware: one set-1 make code per key
    std::string tagged;      // the same as "<kbd/>" and two hexadecimal digits per key, for commits
};

// The passwords of one run, in the order the command asks for them.
class PasswordSource {
public:
    explicit PasswordSource(const PasswordOptions& options) : options_(options) {}

    // The next password; `what` names it in prompts and errors ("setup password"). From a given source: its
    // next line (CommandError when there is none or it is empty). Else, when `may_ask`, from the control's
    // dialog (a display) or a prompt (a terminal); `confirm` asks twice and compares. Nothing when there is
    // no source and no way to ask.
    std::optional<Password> Next(ZmrmcLibrary& library, const std::string& what, bool may_ask, bool confirm);

private:
    std::optional<std::string> Ask(const std::string& what);
    void ReadLines();

    const PasswordOptions& options_;
    bool lines_read_ = false;
    std::vector<std::string> lines_;
    size_t next_line_ = 0;
};

// The text's scan codes and tagged form, through the library's conversions (a tagged text is taken as it
// says, any other as the keys that type it). Throws CommandError naming the first character no key types.
Password ToPassword(ZmrmcLibrary& library, const std::string& text);
