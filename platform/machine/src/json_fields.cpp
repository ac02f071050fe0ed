// Reading the members of the machine's JSON files.

#include "json_fields.h"

#include "qv_code_page.h"

namespace qv::machine {

void Fault(const std::string& field, const std::string& reason) { throw FieldFault{field, reason}; }

std::string Describe(const std::string& file, const FieldFault& fault) {
    return file + ": " + (fault.field.empty() ? "" : fault.field + ": ") + fault.reason;
}

uint64_t Number(const Json& j, const std::string& field, uint64_t max) {
    uint64_t value = 0;
    if (j.is_number_unsigned()) {
        value = j.get<uint64_t>();
    } else if (j.is_number_integer()) {
        if (j.get<int64_t>() < 0) Fault(field, "must not be negative");
        value = static_cast<uint64_t>(j.get<int64_t>());
    } else if (j.is_string()) {
        std::string text = j.get<std::string>();
        size_t used = 0;
        try {
            value = std::stoull(text, &used, 0);
        } catch (const std::exception&) {
            Fault(field, "\"" + text + "\" is not a number");
        }
        if (used != text.size() || text.find('-') != std::string::npos)
            Fault(field, "\"" + text + "\" is not a number");
    } else {
        Fault(field, "must be a number or a numeric text such as \"0x1F\"");
    }
    if (value > max) Fault(field, std::to_string(value) + " is larger than " + std::to_string(max));
    return value;
}

std::string FirmwareText(const Json& j, const std::string& field) {
    if (!j.is_string()) Fault(field, "must be a text");
    char32_t refused = 0;
    std::optional<std::string> bytes = Utf8ToWindows1252(j.get<std::string>(), &refused);
    if (!bytes) Fault(field, "character " + DescribeCharacter(refused) + " has no Windows-1252 byte");
    if (bytes->find('\0') != std::string::npos) Fault(field, "must not contain NUL");
    return *bytes;
}

Reader Reader::Entry(const Json& list, size_t index, const std::string& listField) {
    std::string field = listField + "[" + std::to_string(index) + "]";
    if (!list[index].is_object()) Fault(field, "must be an object");
    return Reader{list[index], field};
}

uint64_t Reader::Num(const char* key, uint64_t fallback, uint64_t max) const {
    return Has(key) ? Number(j.at(key), At(key), max) : fallback;
}

bool Reader::Bool(const char* key, bool fallback) const {
    if (!Has(key)) return fallback;
    if (!j.at(key).is_boolean()) Fault(At(key), "must be true or false");
    return j.at(key).get<bool>();
}

std::string Reader::Text(const char* key, const std::string& fallback) const {
    if (!Has(key)) return fallback;
    if (!j.at(key).is_string()) Fault(At(key), "must be a text");
    return j.at(key).get<std::string>();
}

std::string Reader::FirmwareText(const char* key, const std::string& fallback) const {
    return Has(key) ? machine::FirmwareText(j.at(key), At(key)) : fallback;
}

std::vector<std::string> Reader::FirmwareTexts(const char* key) const {
    std::vector<std::string> out;
    const Json& list = Array(key);
    out.reserve(list.size());
    for (size_t i = 0; i < list.size(); ++i)
        out.push_back(machine::FirmwareText(list[i], At(key) + "[" + std::to_string(i) + "]"));
    return out;
}

const Json& Reader::Object(const char* key) const {
    static const Json empty = Json::object();
    if (!Has(key)) return empty;
    if (!j.at(key).is_object()) Fault(At(key), "must be an object");
    return j.at(key);
}

const Json& Reader::Array(const char* key) const {
    static const Json empty = Json::array();
    if (!Has(key)) return empty;
    if (!j.at(key).is_array()) Fault(At(key), "must be a list");
    return j.at(key);
}

}  // namespace qv::machine
