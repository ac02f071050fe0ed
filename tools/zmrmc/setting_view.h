// One setting as zmrmc shows it: read from the library's record, texts in UTF-8.
#pragma once

#include "zmrmc_library.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

struct SettingView {
    std::string name;                    // the setting's name
    std::vector<std::string> sub_names;  // keyed settings: the instance key's sub-names
    std::string full_name;               // name and sub-names joined by "\", as settings files write it
    std::vector<std::string> path;       // setup menus, outermost first
    uint16_t type = 0;
    std::string type_name;  // as the XML document names it ("enum", "alpha", "int", ...)
    bool read_only = false;
    bool changed = false;  // flagged by a settings file, awaiting a write

    // The value, by type. Enumerations: `selected` indexes `choices` (none: -1); ordered lists: `choices`
    // is the order; integers: `number` within `low`..`high`; texts: `text`; byte blocks: `text` in hex.
    std::vector<std::string> choices;
    std::vector<uint16_t> ids;  // string IDs of `choices`
    int selected = -1;
    uint32_t low = 0, high = 0, number = 0;
    std::string text;
    size_t max_length = 0;  // texts: the longest text the setting holds

    std::string Value() const;     // the value as a table shows it
    std::string Possible() const;  // what it may be set to, as a table shows it
    nlohmann::json Json() const;
};

// The view of one record of the library (not a string table). `record` stays the library's.
SettingView ViewOf(ZmrmcLibrary& library, const SRI* record);
// Every setting the library holds, in firmware order (string tables left out), with each record's position.
std::vector<std::pair<int, SettingView>> AllSettings(ZmrmcLibrary& library);
