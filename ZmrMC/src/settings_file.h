// The settings file operations as the library exports them (BiosSettingsWriteToFile, BiosSettingsReadFromFile):
// each holds the model's lock for its whole duration and first reads the settings from the firmware when no
// read has completed yet.
#pragma once

#include "firmware_calls.h"
#include "settings_model.h"

namespace zmrmc {

// Writes the configuration to `path`: the XML document for format 0, the text settings file for any other.
// `firmware` is null before the library is initialised (then only settings already read can be written).
bool WriteSettingsToFile(SettingsModel& model, FirmwareCalls* firmware, const char* path, int format,
                         const char* password);

// Loads a text settings file into the records in memory (settings_text_reader.h).
bool ReadSettingsFromFile(SettingsModel& model, FirmwareCalls* firmware, const char* path, const char* password);

}  // namespace zmrmc
