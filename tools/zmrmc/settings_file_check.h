// What a text settings file asks for that applying it would not do as written: the settings it names that
// the firmware does not have or that are read-only, values the setting does not have, lines that are not
// numbers, numbers brought into range, enumerations left without a selected value. The library's reader
// skips these silently; zmrmc tells the user. The rules are the reader's (ZmrMC's settings_text_reader.h).
#pragma once

#include "zmrmc_library.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

struct FileNote {
    size_t line = 0;      // 1-based
    std::string setting;  // as the file names it (UTF-8); empty for a line outside any setting
    std::string reason;
};

// The text of the settings file `path` (UTF-8, a Windows or host path, as the library will open it). Throws
// CommandError naming the file and the reason when it is missing, a folder, unreadable, larger than the
// library takes (64 MB), empty, or its first line is not "English".
std::string ReadSettingsFile(const std::string& path);

// The notes for `text`, in line order, with the settings the library holds now. `current` is the library's
// own file of those settings: a read-only setting whose value lines are the same as there is not noted (a
// file saved on a machine lists its read-only settings too).
std::vector<FileNote> CheckSettingsFile(ZmrmcLibrary& library, std::string_view text, std::string_view current);

// The library's text settings file of the settings it holds now (written to a temporary file and read back).
// Throws CommandError when it cannot be written.
std::string CurrentSettingsFile(ZmrmcLibrary& library, const char* password);
