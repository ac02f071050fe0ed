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
    password_ = passwords_.Next(library, "setup password", set, false);
    if (!password_ && set)
        std::cerr << "zmrmc: a setup password is set; reading without it (give --password-file FILE, "
                     "--password-fd N or --password-stdin), protected settings may show as locked\n";
    return password_;
}

const char* Session::ReadPassword() {
    const std::optional<Password>& password = SetupPassword();
    return password ? password->scan_codes.c_str() : nullptr;
}

const char* Session::CommitPassword() {
    const std::optional<Password>& password = SetupPassword();
    return password ? password->tagged.c_str() : nullptr;
}

void Session::ReadSettings() {
    ZmrmcLibrary& library = Library();
    const char* password = ReadPassword();
    ProgressLine progress("reading the settings from the firmware");
    if (!library.ReadFromSystem(password) || library.Count() == 0)
        throw CommandError("this machine's firmware has no settings the BIOS access library can read");
}

void Session::ReadSettingsAgain() {
    ZmrmcLibrary& library = Library();
    while (library.Release() > 0) {
    }
    ReadSettings();
}
