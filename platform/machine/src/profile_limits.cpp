// What the firmware's structures can hold. A profile beyond them is refused: the firmware would otherwise cut a
// count or a size to 16 bits without a word (70 000 choices would be listed as 4 465).

#include "json_fields.h"
#include "profile.h"

#include <unordered_set>

namespace qv::machine {
namespace {

constexpr size_t kMax16 = 0xFFFF;

std::string Objects(size_t i) { return "system_objects.objects[" + std::to_string(i) + "]"; }

void CheckObjects(const Profile& p) {
    if (p.languages.size() + p.objects.size() > kMax16)
        Fault("system_objects.objects", std::to_string(p.objects.size()) + " objects and " +
                                            std::to_string(p.languages.size()) +
                                            " string tables: the object list counts at most 65535");
    std::unordered_set<std::string> texts{"English"};
    for (size_t i = 0; i < p.objects.size(); ++i) {
        const ObjectDef& o = p.objects[i];
        size_t size = ObjectValueSize(o);
        if (size > kMax16) {
            bool binary = o.type == ObjectType::Binary;
            Fault(Objects(i) + (binary ? ".value" : ".choices"),
                  (binary ? "the value" : std::to_string(o.choices.size()) + " choices") + " take " +
                      std::to_string(size) + " bytes; the object list holds values of at most 65535");
        }
        for (const auto* list : {&o.path, &o.key, &o.choices}) texts.insert(list->begin(), list->end());
        texts.insert(o.name);
    }
    // String IDs are 16-bit and FFFFh ends a list: IDs 0 to FFFEh.
    if (texts.size() > kMax16)
        Fault("system_objects", std::to_string(texts.size()) + " different texts; string IDs name at most 65535");
    for (size_t k = 0; k < p.languages.size(); ++k) {
        const Language& language = p.languages[k];
        size_t size = 2 + language.name.size() + 1 + 2;
        for (const auto& text : texts) {
            if (text == "English") continue;
            auto it = language.translations.find(text);
            size += (it != language.translations.end() ? it->second.size() : text.size()) + 1;
        }
        if (size > kMax16)
            Fault("system_objects.languages[" + std::to_string(k) + "]",
                  "the string table of " + language.name + " takes " + std::to_string(size) +
                      " bytes; the object list holds values of at most 65535");
    }
}

void CheckSmbios(const Profile& p) {
    size_t size = 6;  // the end-of-table structure
    for (const auto& s : p.structures) {
        size += 4 + s.formatted.size() + 1 + (s.strings.empty() ? 1 : 0);
        for (const auto& text : s.strings) size += text.size() + 1;
    }
    if (p.smbios && size > kMax16)
        Fault("smbios.structures",
              "the table takes " + std::to_string(size) + " bytes; the entry point holds a length of at most 65535");
}

}  // namespace

size_t ObjectValueSize(const ObjectDef& o) {
    size_t n = o.choices.size();
    switch (o.type) {
    case ObjectType::Enum: return 4 + 2 * n + 2;
    case ObjectType::KeyedEnum: return 12 + 2 * n + 2;
    case ObjectType::OrderedList: return 2 + 2 * n + 2;
    case ObjectType::Integer: return 14;
    case ObjectType::KeyedInteger: return 22;
    case ObjectType::Binary: return 2 + o.value.get<std::string>().size() / 2;  // hexadecimal digits
    default: return 2 + o.maxLength + 1;                                        // texts and passwords
    }
}

size_t E845StringLimit(uint16_t sub) { return sub == 0x25 ? 17 : sub == 0x13 ? 80 : kLongestE845String; }

void CheckFirmwareLimits(const Profile& p) {
    CheckObjects(p);
    CheckSmbios(p);
    if (p.nodes.size() > 255) Fault("pnp.nodes", "at most 255 nodes (node numbers are bytes, FFh ends the list)");
}

}  // namespace qv::machine
