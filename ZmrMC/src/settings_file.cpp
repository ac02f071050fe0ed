#include "settings_file.h"

#include "settings_reader.h"
#include "settings_text_reader.h"
#include "settings_text_writer.h"
#include "settings_xml_document.h"

namespace zmrmc {
namespace {

// Reads the settings from the firmware, with `password`, when no read has completed. The reference that read
// takes is given back at once: the caller of a file operation never asked for one, and a reference nobody
// releases would keep every later BiosSettingsReadFromSystem from reading the firmware again.
bool SettingsRead(SettingsModel& model, FirmwareCalls* firmware, const char* password) {
    if (model.ReadCompleted()) return true;
    if (firmware == nullptr) return false;
    bool read = ReadSettingsFromSystem(model, *firmware, password);
    model.Release();
    return read && model.ReadCompleted();
}

}  // namespace

bool WriteSettingsToFile(SettingsModel& model, FirmwareCalls* firmware, const char* path, int format,
                         const char* password) {
    CriticalSectionLock hold(model.Lock());
    if (!SettingsRead(model, firmware, password)) return false;
    return format == 0 ? WriteSettingsXml(model, path) : WriteSettingsText(model, path);
}

bool ReadSettingsFromFile(SettingsModel& model, FirmwareCalls* firmware, const char* path, const char* password) {
    CriticalSectionLock hold(model.Lock());
    if (!SettingsRead(model, firmware, password)) return false;
    return ReadSettingsText(model, path);
}

}  // namespace zmrmc
