// What every command shares: the library, the password options and the setup password, and reading the
// settings from the firmware.
#pragma once

#include "password.h"
#include "zmrmc_library.h"

#include <optional>

class Session {
public:
    PasswordOptions password_options;

    // The library, loaded and initialised on first use.
    ZmrmcLibrary& Library();

    // The setup password, once: from the password options when they name a source; else, when the firmware
    // has a setup password, typed at a prompt on a terminal (elsewhere a note says the settings are read
    // without it). Nothing when there is none to use.
    const std::optional<Password>& SetupPassword();
    // Its scan codes, as reads and file operations take it; null without a password.
    const char* ReadPassword();

    // Reads every setting from the firmware (a progress line when that takes long). Throws CommandError when
    // the firmware has no settings the library can read.
    void ReadSettings();

private:
    ZmrmcLibrary library_;
    bool password_resolved_ = false;
    std::optional<Password> password_;
};
