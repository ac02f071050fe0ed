// The setup password: where zmrmc takes it from, and the forms the library needs of it.
//
// A password never comes from the command line, where other users can read it: it is the first line of a
// file (--password-file), of standard input (--password-stdin), or typed at a prompt without echo when
// standard input is a terminal. The text is the keys of the password ("abc") or a tagged password
// ("<kbd/>1E3020", "<en-US/>abc").
#pragma once

#include "zmrmc_library.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

struct PasswordOptions {
    std::string file;
    bool from_stdin = false;

    // Adds --password-file and --password-stdin to `app` (shared by every command).
    void AddTo(CLI::App& app);
    bool Given() const { return !file.empty() || from_stdin; }
};

struct Password {
    std::string scan_codes;  // what unlocks the firmware: one set-1 make code per key
    std::string tagged;      // the same as "<kbd/>" and two hexadecimal digits per key, for commits
};

// The password text from the source the options name, else from a prompt when `may_prompt` and standard
// input is a terminal; nothing otherwise. Throws CommandError when the file cannot be read or is empty.
std::optional<std::string> ReadPasswordText(const PasswordOptions& options, bool may_prompt);

// The text's scan codes and tagged form, through the library's conversions (a tagged text is taken as it
// says, any other as the keys that type it). Throws CommandError naming the first character no key types.
Password ToPassword(ZmrmcLibrary& library, const std::string& text);
