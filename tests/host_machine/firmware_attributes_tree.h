// Firmware-attributes trees as the kernel's drivers of three makers publish them
// (Documentation/ABI/testing/sysfs-class-firmware-attributes), written as plain folders for tests.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace tree {

namespace fs = std::filesystem;

struct Attribute {
    std::string name, type, display, current;
    std::map<std::string, std::string> files;  // possible_values, min_value, ...
};

struct Authentication {
    std::string folder, role;
    bool enabled = false;
    int minLength = 1, maxLength = 32;
};

struct Driver {
    std::string name;
    std::vector<Attribute> attributes;
    std::vector<Authentication> authentications;
    bool pendingReboot = true;
    bool resetBios = false;
};

inline void Put(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text << "\n";
}

inline std::string Get(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

inline void Write(const fs::path& root, const Driver& d) {
    fs::path base = root / d.name;
    for (const Attribute& a : d.attributes) {
        fs::path folder = base / "attributes" / a.name;
        Put(folder / "type", a.type);
        Put(folder / "current_value", a.current);
        Put(folder / "default_value", a.current);
        if (!a.display.empty()) Put(folder / "display_name", a.display);
        for (const auto& [file, text] : a.files) Put(folder / file, text);
    }
    fs::create_directories(base / "attributes");
    if (d.pendingReboot) Put(base / "attributes" / "pending_reboot", "0");
    if (d.resetBios) Put(base / "attributes" / "reset_bios", "builtinsafe lastknowngood [factory] custom");
    for (const Authentication& a : d.authentications) {
        fs::path folder = base / "authentication" / a.folder;
        Put(folder / "is_enabled", a.enabled ? "1" : "0");
        Put(folder / "role", a.role);
        Put(folder / "mechanism", "password");
        Put(folder / "min_password_length", std::to_string(a.minLength));
        Put(folder / "max_password_length", std::to_string(a.maxLength));
        Put(folder / "current_password", "");
        Put(folder / "new_password", "");
    }
}

// dell-wmi-sysman: enumerations, integers with a scalar increment, strings with lengths, Admin and System,
// pending_reboot and reset_bios.
inline Driver Dell() {
    return {"dell-wmi-sysman",
            {{"BootMode", "enumeration", "Boot Mode", "UEFI", {{"possible_values", "UEFI;Legacy;"}}},
             {"Camera", "enumeration", "Enable Camera", "Enabled", {{"possible_values", "Disabled;Enabled;"}}},
             {"PowerOnDelay",
              "integer",
              "Power-On Delay",
              "10",
              {{"min_value", "0"}, {"max_value", "60"}, {"scalar_increment", "5"}}},
             {"AssetTag", "string", "Asset Tag", "DELL-0001", {{"min_length", "1"}, {"max_length", "16"}}},
             {"ServiceTag", "string", "Service Tag", "7ABC123", {{"min_length", "7"}, {"max_length", "7"}}}},
            {{"Admin", "bios-admin"}, {"System", "power-on"}},
            true,
            true};
}

// thinklmi: enumerations only, with Admin, System and the drive passwords.
inline Driver Lenovo() {
    return {"thinklmi",
            {{"WakeOnLAN", "enumeration", "WakeOnLAN", "ACOnly", {{"possible_values", "Disable;ACOnly;ACandBattery"}}},
             {"SecureBoot", "enumeration", "SecureBoot", "Enable", {{"possible_values", "Disable;Enable"}}}},
            {{"Admin", "bios-admin"}, {"System", "power-on"}, {"HDD", "HDD"}},
            true,
            false};
}

// hp-bioscfg: enumerations, integers, strings and the ordered list, with its own names for the passwords.
inline Driver Hp() {
    return {"hp-bioscfg",
            {{"Boot Order", "ordered-list", "UEFI Boot Order", "HDD;USB;Network", {{"elements", "HDD;USB;Network"}}},
             {"Num Lock", "enumeration", "Num Lock State at Power-On", "Off", {{"possible_values", "Off;On"}}},
             {"POST Delay",
              "integer",
              "POST Delay (in seconds)",
              "0",
              {{"min_value", "0"}, {"max_value", "30"}, {"scalar_increment", "1"}}},
             {"Ownership Tag", "string", "Ownership Tag", "HP-Lab", {{"min_length", "0"}, {"max_length", "80"}}}},
            {{"Setup Password", "bios-admin"}, {"Power-on Password", "power-on"}},
            true,
            false};
}

}  // namespace tree
