#include "password.h"

#include "exit_codes.h"
#include "qvpwdctl_client.h"
#include "qv_system_root.h"
#include "terminal.h"
#include "text.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <vector>

namespace {

constexpr size_t kMostPasswordBytes = 64 * 1024;  // a password source is a few short lines

std::string WithoutLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    return line;
}

// Everything `fd` holds (at most kMostPasswordBytes); false when reading fails.
bool ReadAll(int fd, std::string* text) {
    char buffer[4096];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        text->append(buffer, static_cast<size_t>(got));
        if (text->size() > kMostPasswordBytes) return true;
    }
}

std::string Hex(uint32_t code) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", code);
    return text;
}

std::string SourceName(const PasswordOptions& options) {
    if (!options.file.empty()) return "the password file " + options.file;
    if (options.fd >= 0) return "password descriptor " + std::to_string(options.fd);
    return "standard input";
}

}  // namespace

void PasswordOptions::AddTo(CLI::App& app) {
    auto* file_option = app.add_option("--password-file", file,
                                       "Read the passwords from FILE, one a line, in the order the command asks "
                                       "for them (never give a password on the command line)")
                            ->type_name("FILE");
    auto* fd_option = app.add_option("--password-fd", fd, "Read the passwords from the open file descriptor N")
                          ->type_name("N")
                          ->check(CLI::NonNegativeNumber);
    auto* stdin_option = app.add_flag("--password-stdin", from_stdin, "Read the passwords from standard input");
    file_option->excludes(stdin_option)->excludes(fd_option);
    fd_option->excludes(stdin_option);
}

void PasswordSource::ReadLines() {
    if (lines_read_) return;
    lines_read_ = true;
    std::string text;
    if (!options_.file.empty()) {
        std::ifstream in(options_.file, std::ios::binary);
        if (!in) throw CommandError("cannot read the password file " + options_.file + ": " + std::strerror(errno));
        char buffer[4096];
        while (text.size() <= kMostPasswordBytes && in.read(buffer, sizeof buffer).gcount() > 0)
            text.append(buffer, static_cast<size_t>(in.gcount()));
        if (in.bad()) throw CommandError("cannot read the password file " + options_.file);
    } else if (!ReadAll(options_.fd >= 0 ? options_.fd : STDIN_FILENO, &text)) {
        throw CommandError("cannot read " + SourceName(options_) + ": " + std::strerror(errno));
    }
    if (text.size() > kMostPasswordBytes) throw CommandError(SourceName(options_) + " is too long for passwords");
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines_.push_back(WithoutLineEnd(text.substr(start, end - start)));
        start = end + 1;
    }
}

std::optional<std::string> PasswordSource::Ask(const std::string& what) {
    std::string prompt = what;
    prompt[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(prompt[0])));
    prompt += ": ";
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr && *display != '\0') {
        std::wstring encoding, error;
        HRESULT hr = qvpwdctl::GetPasswordThroughControl(qv::win::FromUtf8(prompt), &encoding, &error);
        if (SUCCEEDED(hr)) {
            if (encoding.empty()) throw CommandError("no " + what + " given (the dialog was cancelled)");
            return qv::win::ToUtf8(encoding);
        }
        if (!StandardInputIsTerminal())
            throw CommandError("the password entry control cannot ask for the " + what + " (" +
                               (error.empty() ? "0x" + Hex(static_cast<uint32_t>(hr)) : qv::win::ToUtf8(error)) +
                               "); give --password-file, --password-fd or --password-stdin");
        std::cerr << "zmrmc: the password entry control cannot ask; asking here\n";
    }
    return ReadWithoutEcho(prompt);
}

std::optional<Password> PasswordSource::Next(ZmrmcLibrary& library, const std::string& what, bool may_ask,
                                             bool confirm) {
    if (options_.Given()) {
        ReadLines();
        if (next_line_ >= lines_.size())
            throw CommandError(SourceName(options_) + " has no line " + std::to_string(next_line_ + 1) + " for the " +
                               what);
        size_t line = next_line_++;
        if (lines_[line].empty())
            throw CommandError("line " + std::to_string(line + 1) + " of " + SourceName(options_) + " (the " + what +
                               ") is empty");
        return ToPassword(library, lines_[line]);
    }
    if (!may_ask) return std::nullopt;
    std::optional<std::string> typed = Ask(what);
    if (!typed) return std::nullopt;
    if (typed->empty()) throw CommandError("no " + what + " given");
    Password password = ToPassword(library, *typed);
    if (confirm) {
        std::optional<std::string> again = Ask(what + " again");
        if (!again || ToPassword(library, *again).scan_codes != password.scan_codes)
            throw CommandError("the two entries of the " + what + " differ; nothing was changed");
    }
    return password;
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
