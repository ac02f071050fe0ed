// What every command shares: the library, the password options and the passwords, and reading the settings
// from the firmware.
#pragma once

#include "password.h"
#include "zmrmc_library.h"

#include <optional>

class Session {
public:
    PasswordOptions password_options;

    // The library, loaded and initialised on first use.
    ZmrmcLibrary& Library();

    // The passwords of this run, in the order the command asks for them (the setup password, when asked for,
    // comes first).
    PasswordSource& Passwords() { return passwords_; }

    // The setup password, once: the first password of the source the options name; else, when the firmware
    // has a setup password, asked for (elsewhere a note says the settings are read without it). Nothing when
    // there is none to use.
    const std::optional<Password>& SetupPassword();
    // Its scan codes, as reads and file operations take it; null without a password.
    const char* ReadPassword();
    // Its tagged form, as commits and the factory defaults take it; null without a password.
    const char* CommitPassword();

    // Reads every setting from the firmware (a progress line when that takes long). Throws CommandError when
    // the firmware has no settings the library can read.
    void ReadSettings();
    // Gives the settings back and reads them again, to see what the firmware holds after writes.
    void ReadSettingsAgain();

private:
    ZmrmcLibrary library_;
    PasswordSource passwords_{password_options};
    bool password_resolved_ = false;
    std::optional<Password> password_;
};
