// The instance-name table: every instance name a setting enumeration handed out, mapped to the full Name of
// its setting, so that a later get object finds the setting again. It only grows while the provider lives
// (every enumeration names every setting anew), so an entry is kept small: the 16 bytes of the name's UUID and
// the number of the setting's Name, each distinct Name stored once.
//
// Thread safety: none; the provider uses it under its request lock.
#pragma once

#include "rpc.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

class InstanceNameTable {
public:
    // Enters the instance name `uuid` (in its text form the 36-character lower-case UUID) for settingName.
    void Add(const UUID& uuid, const std::wstring& settingName);
    // The setting's Name for an instance name in the UUID text form (either case), or null when that name was
    // never handed out or is no UUID text.
    const std::wstring* Find(const std::wstring& instanceName) const;

    size_t Size() const { return entries_.size(); }
    void Clear();

    // The 36-character lower-case text of a UUID, without braces.
    static std::wstring Text(const UUID& uuid);

private:
    struct Key {
        uint64_t high, low;
        bool operator==(const Key& other) const { return high == other.high && low == other.low; }
    };
    struct KeyHash {
        size_t operator()(const Key& key) const {
            return std::hash<uint64_t>()(key.high ^ (key.low * 0x9E3779B97F4A7C15ull));
        }
    };
    static Key KeyOf(const UUID& uuid);

    std::unordered_map<Key, uint32_t, KeyHash> entries_;       // instance name -> number of the Name
    std::vector<std::wstring> names_;                          // distinct setting Names
    std::unordered_map<std::wstring, uint32_t> name_numbers_;  // Name -> its number
};
