#include "session.h"

#include "exit_codes.h"
#include "progress_line.h"
#include "terminal.h"

#include <iostream>

ZmrmcLibrary& Session::Library() {
    if (!library_.Loaded()) {
        ProgressLine progress("starting the BIOS access library");
        library_.Load();
    }
    return library_;
}

const std::optional<Password>& Session::SetupPassword() {
    if (password_resolved_) return password_;
    password_resolved_ = true;
    ZmrmcLibrary& library = Library();
    bool set = library.SetupPasswordSet() != 0;
    std::optional<std::string> text = ReadPasswordText(password_options, set);
    if (!text && set)
        std::cerr << "zmrmc: a setup password is set; reading without it (give --password-file FILE or "
                     "--password-stdin), protected settings may show as locked\n";
    if (text && !text->empty()) password_ = ToPassword(library, *text);
    return password_;
}

const char* Session::ReadPassword() {
    const std::optional<Password>& password = SetupPassword();
    return password ? password->scan_codes.c_str() : nullptr;
}

void Session::ReadSettings() {
    ZmrmcLibrary& library = Library();
    const char* password = ReadPassword();
    ProgressLine progress("reading the settings from the firmware");
    if (!library.ReadFromSystem(password) || library.Count() == 0)
        throw CommandError("this machine's firmware has no settings the BIOS access library can read");
}
