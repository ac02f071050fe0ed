// Turning a firmware system object into a setting record.

#include "setting_record.h"

#include "text_case.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace zmrmc {
namespace {

constexpr uint16_t kUnused = 0xFFFF;

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// The smallest value each type can be read from: name ID plus the fixed part of its payload.
size_t MinimumSize(uint16_t type) {
    switch (type) {
    case SRI_TYPE_ENUM: return 4;
    case SRI_TYPE_TEXT:
    case SRI_TYPE_DATE:
    case SRI_TYPE_TIME: return 3;  // at least the terminating byte of an empty text
    case SRI_TYPE_INTEGER: return 14;
    case SRI_TYPE_KEYED_ENUM: return 12;
    case SRI_TYPE_KEYED_INTEGER: return 22;
    default: return 2;
    }
}

void SetValue(SettingRecord& record, std::vector<uint8_t> bytes, uint16_t elements) {
    record.value = std::move(bytes);
    record.sri.valueSize = static_cast<uint32_t>(record.value.size());
    record.sri.value = record.value.empty() ? nullptr : record.value.data();
    record.sri.elementCount = elements;
}

std::vector<uint8_t> Bytes(const uint8_t* from, size_t count) { return std::vector<uint8_t>(from, from + count); }

// Text of at most `limit` bytes at `from`, stopping at its first NUL.
std::string BoundedText(const uint8_t* from, size_t limit) {
    const void* end = std::memchr(from, 0, limit);
    size_t length = end != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(end) - from) : limit;
    return std::string(reinterpret_cast<const char*>(from), length);
}

void FillStringTable(SettingRecord& record, const uint8_t* value, size_t size) {
    std::vector<uint8_t> texts;
    size_t at = 2;
    while (at < size) {
        if (at + 1 < size && value[at] == 0xFF && value[at + 1] == 0xFF) break;
        if (at + 1 == size && value[at] == 0) break;  // the table's closing NUL, not an empty text
        std::string text = BoundedText(value + at, size - at);
        at += text.size() + 1;
        if (text.empty()) text = "-";
        record.texts.push_back(static_cast<uint32_t>(texts.size()));
        texts.insert(texts.end(), text.begin(), text.end());
        texts.push_back(0);
    }
    SetValue(record, std::move(texts), static_cast<uint16_t>(std::min<size_t>(record.texts.size(), 0xFFFF)));
}

void FillPassword(SettingRecord& record, const uint8_t* value, size_t size) {
    size_t buffer = std::max<size_t>(size - 2, 128);
    std::vector<uint8_t> bytes(buffer, 0);
    std::string text;
    if (size == 43) {
        text = "<SHA1>" + std::string(reinterpret_cast<const char*>(value + 2), 40) + "</SHA1>";
    } else {
        // Leave room for the terminator even when the firmware's text fills the whole value.
        text = BoundedText(value + 2, std::min(size - 2, buffer - 1));
    }
    std::memcpy(bytes.data(), text.data(), std::min(text.size(), buffer - 1));
    record.sri.upperBound = static_cast<uint32_t>(buffer);
    SetValue(record, std::move(bytes), 1);
}

}  // namespace

bool ObjectInfo::Decode(const uint8_t* bytes, size_t length, ObjectInfo* info) {
    if (bytes == nullptr || length < kWireSize) return false;
    info->type = U16(bytes);
    info->flags = U16(bytes + 2);
    info->size = U32(bytes + 4);
    for (int i = 0; i < 6; ++i) info->path[i] = U16(bytes + 8 + 2 * i);
    return true;
}

void SettingRecord::SetPrerequisites(const char* text) {
    size_t length = std::strlen(text);
    prereqs.assign(text, text + length);
    prereqs.push_back('\0');
    prereqs.push_back('\0');
    uint16_t count = 1;
    for (size_t i = 0; i < length; ++i) {
        if (prereqs[i] == '|') {
            prereqs[i] = '\0';
            ++count;
        }
    }
    sri.prereqCount = count;
    sri.prereqSize = static_cast<uint32_t>(prereqs.size());
    sri.prereqs = prereqs.data();
}

void SettingRecord::SetText(std::string_view text) {
    size_t needed = text.size() + 1;
    // The record's own buffer, at the size its SRI states (a host may have lowered it, never raised it).
    size_t capacity = sri.value == value.data() ? std::min<size_t>(sri.valueSize, value.size()) : 0;
    if (capacity < needed) {
        value.assign(needed, 0);
        capacity = needed;
    } else {
        std::fill(value.begin(), value.begin() + static_cast<std::ptrdiff_t>(capacity), 0);
    }
    std::memcpy(value.data(), text.data(), text.size());
    sri.value = value.data();
    sri.valueSize = static_cast<uint32_t>(capacity);
}

size_t ListLength(const SRI& sri) {
    if (sri.value == nullptr) return 0;
    size_t limit = std::min<size_t>(sri.elementCount, sri.valueSize / 2);
    size_t length = 0;
    while (length < limit && ListEntry(sri, length) != kUnused) ++length;
    return length;
}

uint16_t ListEntry(const SRI& sri, size_t position) {
    uint16_t id = 0;
    std::memcpy(&id, static_cast<const uint8_t*>(sri.value) + 2 * position, 2);
    return id;
}

void SetListEntry(SRI& sri, size_t position, uint16_t id) {
    std::memcpy(static_cast<uint8_t*>(sri.value) + 2 * position, &id, 2);
}

std::string_view ValueText(const SRI& sri) {
    if (sri.value == nullptr) return {};
    const char* text = static_cast<const char*>(sri.value);
    const void* end = std::memchr(text, 0, sri.valueSize);
    return std::string_view(text,
                            end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - text) : sri.valueSize);
}

uint32_t IntegerValue(const SRI& sri) {
    uint8_t bytes[4] = {};
    if (sri.value != nullptr) std::memcpy(bytes, sri.value, std::min<size_t>(sri.valueSize, 4));
    return U32(bytes);
}

void SetIntegerValue(SRI& sri, uint32_t number) {
    if (sri.value == nullptr || sri.valueSize < 4) return;
    uint8_t bytes[4] = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                        static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
    std::memcpy(sri.value, bytes, 4);
}

std::unique_ptr<SettingRecord> BuildSettingRecord(uint16_t index, const ObjectInfo& info, const uint8_t* value,
                                                  size_t value_length, NameLookup name_of, const void* context) {
    if (info.type > SRI_TYPE_KEYED_INTEGER || value == nullptr) return nullptr;
    size_t size = std::min<size_t>(info.size, value_length);
    if (size < MinimumSize(info.type)) return nullptr;

    auto record = std::make_unique<SettingRecord>();
    SRI& sri = record->sri;
    sri.size = sizeof(SRI);
    sri.objectIndex = index;
    sri.type = info.type;
    sri.flags = info.flags;
    std::memcpy(sri.path, info.path, sizeof sri.path);
    while (sri.pathDepth < 6 && sri.path[sri.pathDepth] != kUnused) ++sri.pathDepth;
    sri.nameId = U16(value);
    std::fill(std::begin(sri.instanceKey), std::end(sri.instanceKey), kUnused);

    switch (info.type) {
    case SRI_TYPE_ENUM:
        sri.currentIndex = U16(value + 2);
        SetValue(*record, Bytes(value + 4, size - 4), static_cast<uint16_t>((size - 4) / 2));
        break;
    case SRI_TYPE_TEXT:
    case SRI_TYPE_DATE:
    case SRI_TYPE_TIME: {
        std::vector<uint8_t> bytes(size - 2, 0);
        std::string text = BoundedText(value + 2, size - 3);
        std::memcpy(bytes.data(), text.data(), text.size());
        sri.upperBound = static_cast<uint32_t>(size - 2);
        SetValue(*record, std::move(bytes), 1);
        break;
    }
    case SRI_TYPE_BINARY: {
        SetValue(*record, Bytes(value + 2, size - 2), static_cast<uint16_t>(std::min<size_t>(size - 2, 0xFFFF)));
        const char* name = name_of != nullptr ? name_of(sri.nameId, context) : "";
        if (EqualsIgnoringCase(name, "Legacy Devices") || EqualsIgnoringCase(name, "PCI IRQs"))
            sri.flags |= SRI_FLAG_READ_ONLY;
        break;
    }
    case SRI_TYPE_INTEGER:
    case SRI_TYPE_KEYED_INTEGER:
        sri.lowerBound = U32(value + 2);
        sri.upperBound = U32(value + 6);
        SetValue(*record, Bytes(value + 10, 4), 1);
        if (info.type == SRI_TYPE_KEYED_INTEGER)
            for (int i = 0; i < 4; ++i) sri.instanceKey[i] = U16(value + 14 + 2 * i);
        break;
    case SRI_TYPE_PASSWORD: FillPassword(*record, value, size); break;
    case SRI_TYPE_STRING_TABLE: FillStringTable(*record, value, size); break;
    case SRI_TYPE_ORDERED_LIST:
        SetValue(*record, Bytes(value + 2, size - 2), static_cast<uint16_t>((size - 2) / 2));
        break;
    case SRI_TYPE_KEYED_ENUM:
        sri.currentIndex = U16(value + 2);
        for (int i = 0; i < 4; ++i) sri.instanceKey[i] = U16(value + 4 + 2 * i);
        SetValue(*record, Bytes(value + 12, size - 12), static_cast<uint16_t>((size - 12) / 2));
        break;
    }
    return record;
}

}  // namespace zmrmc
