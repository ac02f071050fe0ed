// The kernel's firmware-attributes class as files: /sys/class/firmware-attributes/<driver>/attributes/<name>/
// and <driver>/authentication/<name>/ (the kernel's ABI: Documentation/ABI/testing/
// sysfs-class-firmware-attributes). Everything here reads the files at the moment it is asked; nothing is
// kept by this file. Writes go to the file itself, and a write the kernel refuses comes back as its errno.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qv::machine {

enum class AttributeKind { Enumeration, Integer, String, OrderedList, Other };

// One attribute's description (what does not change while the firmware runs) and its value when it was read.
struct FirmwareAttribute {
    std::filesystem::path folder;  // <driver>/attributes/<name>
    std::string driver;            // the driver's folder name ("dell-wmi-sysman", "thinklmi", "hp-bioscfg")
    std::string name;              // the attribute's folder name
    std::string displayName;       // display_name, empty when the driver gives none
    AttributeKind kind = AttributeKind::Other;
    std::string typeText;                          // the type file as read
    std::vector<std::string> choices;              // enumeration: possible_values; ordered list: elements
    int64_t minValue = 0, maxValue = 0;            // integer bounds
    int64_t increment = 1;                         // integer scalar_increment (1 without the file)
    std::optional<uint32_t> minLength, maxLength;  // string lengths
};

// A password the firmware keeps (authentication/<name>).
struct FirmwareAuthentication {
    std::filesystem::path folder;
    std::string name;  // "Admin", "System", ...
    std::string role;  // "bios-admin", "power-on", ... (empty without the file)
    std::optional<uint32_t> minLength, maxLength;
};

// The drivers under a firmware-attributes root, sorted by name: every folder with an "attributes" folder.
std::vector<std::filesystem::path> FirmwareAttributeDrivers(const std::filesystem::path& root);

// The attributes of one driver, sorted by folder name; pending_reboot, reset_bios and other plain files of the
// attributes folder are not attributes. A folder whose type file is missing is left out.
std::vector<FirmwareAttribute> ReadAttributes(const std::filesystem::path& driver);
// One attribute (<driver>/attributes/<name>); nothing without its type file.
std::optional<FirmwareAttribute> ReadAttribute(const std::filesystem::path& folder);
std::vector<FirmwareAuthentication> ReadAuthentications(const std::filesystem::path& driver);

// A file's text without its trailing line end; nothing when it cannot be read (errno then holds why).
std::optional<std::string> ReadAttributeFile(const std::filesystem::path& file);
// Whether a file offers writing at all (a write bit in its mode: a read-only attribute has none).
bool Writable(const std::filesystem::path& file);
// Writes `text` to a file of the class in one write() call, as a kernel attribute takes it: 0 when the whole
// text was taken, else the errno of the open or write the kernel (or the file system) refused.
int WriteAttributeFile(const std::filesystem::path& file, const std::string& text);

// The items of a ";"-separated list (or ","-separated when it has no ";"), empty items dropped.
std::vector<std::string> SplitList(const std::string& text);
// reset_bios's options ("builtinsafe lastknowngood [factory] custom"), brackets removed.
std::vector<std::string> ResetOptions(const std::string& text);

}  // namespace qv::machine
