#include "password.h"

#include "exit_codes.h"
#include "terminal.h"
#include "text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <vector>

namespace {

std::string WithoutLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    return line;
}

}  // namespace

void PasswordOptions::AddTo(CLI::App& app) {
    auto* file_option = app.add_option("--password-file", file,
                                       "Read the setup password from the first line of FILE (never give it on the "
                                       "command line)")
                            ->type_name("FILE");
    auto* stdin_option = app.add_flag("--password-stdin", from_stdin,
                                      "Read the setup password from the first line of standard input");
    file_option->excludes(stdin_option);
}

std::optional<std::string> ReadPasswordText(const PasswordOptions& options, bool may_prompt) {
    if (!options.file.empty()) {
        std::ifstream in(options.file, std::ios::binary);
        std::string line;
        if (!in) throw CommandError("cannot read the password file " + options.file + ": " + std::strerror(errno));
        if (!std::getline(in, line) || WithoutLineEnd(line).empty())
            throw CommandError("the password file " + options.file + " is empty");
        return WithoutLineEnd(line);
    }
    if (options.from_stdin) {
        std::string line;
        if (!std::getline(std::cin, line) || WithoutLineEnd(line).empty())
            throw CommandError("no password on standard input");
        return WithoutLineEnd(line);
    }
    if (!may_prompt) return std::nullopt;
    return ReadWithoutEcho("Setup password: ");
}

Password ToPassword(ZmrmcLibrary& library, const std::string& text) {
    std::string ansi = AnsiFromUtf8(text);
    std::vector<unsigned char> codes(ansi.size() + 1, 0);
    const char* error = nullptr;
    bool converted = library.TaggedToScanCodes(ansi.c_str(), codes.data(), static_cast<int>(codes.size()), &error);
    if (!converted) {
        if (ansi.rfind("<", 0) == 0 && ansi.find("/>") != std::string::npos && error != nullptr)
            throw CommandError("the tagged password does not convert at position " +
                               std::to_string(error - ansi.c_str() + 1));
        error = nullptr;
        if (!library.KeyTextToScanCodes(0, ansi.c_str(), codes.data(), &error)) {
            size_t at = error != nullptr ? static_cast<size_t>(error - ansi.c_str()) : 0;
            throw CommandError("no key types the password's character '" + Utf8FromAnsi(ansi.substr(at, 1)) +
                               "' (position " + std::to_string(at + 1) +
                               "); write a space as \"< >\", or give the tagged form \"<kbd/>\" with scan codes");
        }
    }
    Password password;
    password.scan_codes = reinterpret_cast<const char*>(codes.data());
    password.tagged = "<kbd/>";
    char hex[3];
    for (unsigned char code : password.scan_codes) {
        std::snprintf(hex, sizeof hex, "%02X", code);
        password.tagged += hex;
    }
    return password;
}
