// Reading a text settings file (BiosSettingsReadFromFile) into the setting records in memory: each setting
// the file names and that is not read-only takes the file's value and is flagged as changed, for
// BiosSettingsWriteToSystem to commit. The firmware is not touched. The format is the writer's
// (settings_text_writer.h); lines end in CR LF or a bare LF.
//
// How value lines are taken, by type:
//   enumerations   the first line starting with "*" whose choice the setting has selects it; without one the
//                  setting is flagged with no selection (0xFFFF), which commits nothing
//   texts,         the value lines joined (the pieces of a longer text); a value line is its text after
//   passwords      the one tab the writer puts before it, blanks included (a line indented with blanks
//                  instead loses them), so the tab alone is the empty text
//   dates, times   the last value line, taken as a text line (a later line with no text is ignored)
//   integers       lower bound, upper bound, then the value brought into that range (unsigned comparisons);
//                  a line that is not a decimal number leaves its field as it is; further lines are ignored
//   ordered lists  each named element moves to the next place from the front; unknown elements and ones
//                  already placed are skipped, the rest keep their order behind
//   byte blocks, string tables: value lines are ignored
// A block whose header names no setting (an unknown name or sub-name) or a read-only one is skipped.
#pragma once

#include "settings_model.h"

#include <string_view>

namespace zmrmc {

// Takes a settings file's whole text into the model. False, changing nothing, when the model has no language
// record, the text is empty, or its first line is not exactly "English". The caller holds the model's lock.
bool ApplySettingsText(SettingsModel& model, std::string_view text);

// Reads the file at `path` (ANSI) and applies it. False, changing nothing, when the file cannot be opened or
// read (a folder, say), is larger than 64 MB, or ApplySettingsText refuses it.
bool ReadSettingsText(SettingsModel& model, const char* path);

}  // namespace zmrmc
