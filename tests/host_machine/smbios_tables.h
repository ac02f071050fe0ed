// SMBIOS tables of a notebook for tests: the kernel's layout (smbios_entry_point, DMI) and dmidecode's dump.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace smbios {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

inline void Structure(Bytes& t, uint8_t type, uint16_t handle, const Bytes& fields,
                      const std::vector<std::string>& strings) {
    t.insert(t.end(), {type, static_cast<uint8_t>(4 + fields.size()), static_cast<uint8_t>(handle), 0});
    t.insert(t.end(), fields.begin(), fields.end());
    for (const auto& s : strings) {
        t.insert(t.end(), s.begin(), s.end());
        t.push_back(0);
    }
    if (strings.empty()) t.push_back(0);
    t.push_back(0);
}

// A table of a 2.7 notebook (chassis type 10): BIOS, system, base board, chassis, end.
inline Bytes Table() {
    Bytes t;
    Structure(t, 0, 0, {1, 2, 0x00, 0xF0, 3, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0}, {"Brevik Inc.", "1.17.2", "03/14/2024"});
    Bytes system = {1, 2, 3, 4};
    for (int i = 0; i < 16; ++i) system.push_back(static_cast<uint8_t>(0x10 + i));
    system.insert(system.end(), {6, 5, 6});
    Structure(t, 1, 1, system, {"Brevik Inc.", "Latitude 7440", "Rev A", "HX7Q2Z3", "SKU-7440", "Latitude"});
    Structure(t, 2, 2, {1, 2, 3, 4}, {"Brevik Inc.", "0C6K7R", "A02", "/HX7Q2Z3/CNCMK0037J0123/"});
    Structure(t, 3, 3, {1, 10, 0, 2, 3, 3, 3, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0}, {"Brevik Inc.", "CH-42", "ASSET-7"});
    Structure(t, 127, 4, {}, {});
    return t;
}

inline Bytes EntryPoint(const Bytes& table, uint32_t address) {
    uint8_t ep[31] = {'_', 'S', 'M', '_', 0, 0x1F, 2, 7, 0x80, 0};
    std::memcpy(ep + 16, "_DMI_", 5);
    ep[22] = static_cast<uint8_t>(table.size());
    ep[23] = static_cast<uint8_t>(table.size() >> 8);
    std::memcpy(ep + 24, &address, 4);
    ep[28] = 5;
    ep[30] = 0x27;
    uint8_t sum = 0;
    for (int i = 16; i < 31; ++i) sum = static_cast<uint8_t>(sum + ep[i]);
    ep[21] = static_cast<uint8_t>(-sum);
    sum = 0;
    for (int i = 0; i < 31; ++i) sum = static_cast<uint8_t>(sum + ep[i]);
    ep[4] = static_cast<uint8_t>(-sum);
    return Bytes(ep, ep + 31);
}

inline void Save(const fs::path& file, const Bytes& bytes) {
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The same tables as the kernel publishes them (`tables`) and as dmidecode dumps them (`dump`).
inline void SaveTables(const fs::path& tables, const fs::path& dump) {
    Bytes table = Table();
    fs::create_directories(tables);
    Save(tables / "smbios_entry_point", EntryPoint(table, 0x000E6000));
    Save(tables / "DMI", table);
    Bytes bytes = EntryPoint(table, 32);  // dmidecode's dump: the entry point at 0 pointing at the table at 32
    bytes.resize(32, 0);
    bytes.insert(bytes.end(), table.begin(), table.end());
    Save(dump, bytes);
}

}  // namespace smbios
