// Reading the members of the machine's JSON files (profiles and states) with their types and ranges checked.
// A fault names the member by its path ("system_objects.objects[3].choices") and the reason; the caller adds
// the file.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace qv::machine {

using Json = nlohmann::json;

struct FieldFault {
    std::string field;  // empty: the file as a whole
    std::string reason;
};
[[noreturn]] void Fault(const std::string& field, const std::string& reason);

// "file: field: reason", or "file: reason" for the file as a whole.
std::string Describe(const std::string& file, const FieldFault& fault);

// A number, or a numeric text such as "0x1F", of at most `max`.
uint64_t Number(const Json& j, const std::string& field, uint64_t max);

// Text as the firmware keeps it: Windows-1252 bytes, without NUL.
std::string FirmwareText(const Json& j, const std::string& field);

// The members of one JSON object. Optional members have a fallback; a present member of the wrong kind is a
// fault.
struct Reader {
    const Json& j;
    std::string where;  // the object's own path; empty at the top of the file

    // The object at `list[index]`, which must be an object.
    static Reader Entry(const Json& list, size_t index, const std::string& listField);

    bool Has(const char* key) const { return j.contains(key) && !j.at(key).is_null(); }
    std::string At(const char* key) const { return where.empty() ? key : where + "." + key; }
    uint64_t Num(const char* key, uint64_t fallback, uint64_t max) const;
    bool Bool(const char* key, bool fallback) const;
    std::string Text(const char* key, const std::string& fallback) const;
    // Text that reaches the firmware (FirmwareText).
    std::string FirmwareText(const char* key, const std::string& fallback) const;
    std::vector<std::string> FirmwareTexts(const char* key) const;
    const Json& Object(const char* key) const;
    const Json& Array(const char* key) const;
};

}  // namespace qv::machine
