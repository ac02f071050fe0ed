// Writing the text settings file (BiosSettingsWriteToFile with a non-zero format): the configuration as lines
// ending in CR LF, readable again by the settings text reader.
//
//   English                      the language record's name
//   Serial Port A                a header: the setting's name (keyed types: "\" and each sub-name)
//   <tab>Device hidden           value lines, each after one tab; "*" marks an enumeration's choice
//   <tab>*Device available
//
// Value lines by type: enumerations one line per choice ("--" choices left out), texts and passwords in
// pieces of at most 62 characters, integers their lower bound, upper bound and value ("%d"), dates and times
// one line, ordered lists one line per element, byte blocks none. String tables are not written.
#pragma once

#include "settings_model.h"

#include <string>

namespace zmrmc {

// The whole file's text. False (text untouched) when the model has no language record. The caller holds the
// model's lock.
bool BuildSettingsText(SettingsModel& model, std::string* text);

// Builds the text and writes it to `path` (ANSI; created or truncated). False when there is no language
// record, or when the file cannot be created or wholly written (a partly written file may then remain).
bool WriteSettingsText(SettingsModel& model, const char* path);

}  // namespace zmrmc
