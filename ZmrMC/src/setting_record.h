// One setting record as the model owns it: the SRI that crosses the library boundary, and the storage its
// pointers refer to.
#pragma once

#include "ZmrMC.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace zmrmc {

// Object information block as the firmware returns it (20 bytes, little-endian).
struct ObjectInfo {
    uint16_t type = 0;
    uint16_t flags = 0;
    uint32_t size = 0;
    uint16_t path[6] = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};

    static constexpr size_t kWireSize = 20;
    // Decodes the wire form; false when fewer than 20 bytes are given.
    static bool Decode(const uint8_t* bytes, size_t length, ObjectInfo* info);
};

// The record and its buffers. `sri` is the first member and the object never moves once built, so the SRI
// pointer handed to callers stays valid for the record's life.
struct SettingRecord {
    SRI sri{};
    std::vector<uint8_t> value;   // sri.value points here (null when empty)
    std::vector<char> prereqs;    // sri.prereqs points here (null when none)
    std::vector<uint32_t> texts;  // type 5: offset of each text in `value`

    // Replaces the prerequisite texts: items separated by '|' in `text`.
    void SetPrerequisites(const char* text);
};

// Looks up a name ID in the language string table as it stands while records are being built.
using NameLookup = const char* (*)(uint16_t id, const void* context);

// Builds the record of system object `index` from its information and its raw value (the value buffer as
// read, `info.size` bytes or more). Returns null when the object yields no record: a type above 10, or a
// value too short for what its type needs (such an object would otherwise be read past its end).
// `name_of` resolves the record's name ID (for the byte-block read-only names).
std::unique_ptr<SettingRecord> BuildSettingRecord(uint16_t index, const ObjectInfo& info, const uint8_t* value,
                                                  size_t value_length, NameLookup name_of, const void* context);

}  // namespace zmrmc
