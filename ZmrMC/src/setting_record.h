// One setting record as the model owns it: the SRI that crosses the library boundary, and the storage its
// pointers refer to.
#pragma once

#include "ZmrMC.h"

#include <cstdint>
#include <memory>
#include <string_view>
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
    // Puts `text` into the value buffer of a text record: a buffer too small for the text and its terminating
    // zero is replaced by one of exactly that size, a larger one is cleared first and keeps its size.
    void SetText(std::string_view text);
};

// The value of a record as a host may have left it: nothing is read beyond `valueSize` bytes of `value`.
// The number of list entries (types 0, 8 and 9) up to the element count or the first 0xFFFF.
size_t ListLength(const SRI& sri);
uint16_t ListEntry(const SRI& sri, size_t position);  // position < ListLength(sri)
void SetListEntry(SRI& sri, size_t position, uint16_t id);
// The text of a text record (types 1, 4, 6, 7), up to its terminating zero or the buffer's end.
std::string_view ValueText(const SRI& sri);
// The 32-bit value of an integer record (types 3, 10); bytes the buffer lacks count as 0.
uint32_t IntegerValue(const SRI& sri);
void SetIntegerValue(SRI& sri, uint32_t value);  // only when the buffer holds 4 bytes

// Looks up a name ID in the language string table as it stands while records are being built.
using NameLookup = const char* (*)(uint16_t id, const void* context);

// Builds the record of system object `index` from its information and its raw value (the value buffer as
// read, `info.size` bytes or more). Returns null when the object yields no record: a type above 10, or a
// value too short for what its type needs (such an object would otherwise be read past its end).
// `name_of` resolves the record's name ID (for the byte-block read-only names).
std::unique_ptr<SettingRecord> BuildSettingRecord(uint16_t index, const ObjectInfo& info, const uint8_t* value,
                                                  size_t value_length, NameLookup name_of, const void* context);

}  // namespace zmrmc
