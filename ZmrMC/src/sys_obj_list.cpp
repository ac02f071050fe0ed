#include "sys_obj_list.h"

#include "legacy_catalogue.h"

#include <cstring>
#include <vector>

namespace zmrmc {

SysObjList::SysObjList(FirmwareCalls& firmware) : firmware_(firmware), boot_(firmware) {}

SysObjList::~SysObjList() = default;

void SysObjList::Decide() {
    if (decided_) return;
    decided_ = true;
    uint32_t size = 0;
    if (firmware_.ObjectListSize(&size) && size != 0) {
        native_ = true;
        return;
    }
    if (!IsLegacySystemId(firmware_.MachineId())) return;
    size_t next = 0;
    for (std::unique_ptr<LegacySysObj>& object : CreateLegacyCatalogue(firmware_, boot_)) {
        if (next < kSlots && object->IsSupported()) slots_[next++] = std::move(object);
    }
}

bool SysObjList::Native() {
    Decide();
    return native_;
}

size_t SysObjList::ImitatedCount() {
    Decide();
    size_t count = 0;
    while (count < kSlots && slots_[count] != nullptr) ++count;
    return count;
}

LegacySysObj* SysObjList::Slot(uint16_t index) { return index < ImitatedCount() ? slots_[index].get() : nullptr; }

bool SysObjList::ListSize(uint32_t* size) {
    if (size == nullptr) return false;
    *size = 0;
    if (Native()) return firmware_.ObjectListSize(size);
    size_t count = ImitatedCount();
    bool only_table = count == 0 || (count == 1 && slots_[0]->Type() == SRI_TYPE_STRING_TABLE);
    if (only_table) return false;
    *size = static_cast<uint32_t>(count * 8 + 4);
    return true;
}

bool SysObjList::List(void* list, uint32_t size) {
    if (Native()) return firmware_.ObjectList(list, size);
    size_t count = ImitatedCount();
    if (list == nullptr || size < count * 8 + 4) return false;
    std::vector<uint8_t> bytes(count * 8 + 4, 0);
    uint16_t entries = static_cast<uint16_t>(count);
    std::memcpy(bytes.data(), &entries, 2);
    for (size_t i = 0; i < count; ++i) {
        uint16_t entry[4] = {static_cast<uint16_t>(i), slots_[i]->Type(), static_cast<uint16_t>(slots_[i]->Size()), 0};
        std::memcpy(bytes.data() + 4 + 8 * i, entry, sizeof entry);
    }
    std::memcpy(list, bytes.data(), bytes.size());
    return true;
}

bool SysObjList::Info(uint16_t index, void* info, uint32_t length) {
    if (Native()) return firmware_.ObjectInfo(index, info, length);
    LegacySysObj* object = Slot(index);
    return object != nullptr && object->GetInfo(info, length);
}

bool SysObjList::Value(uint16_t index, void* value, uint32_t length) {
    if (Native()) return firmware_.ObjectValue(index, value, length);
    LegacySysObj* object = Slot(index);
    return object != nullptr && object->GetValue(value, length);
}

bool SysObjList::SetValue(uint16_t index, const void* value, uint32_t length, const char* password,
                          uint16_t password_length) {
    if (Native()) return firmware_.SetObjectValue(index, value, length);
    LegacySysObj* object = Slot(index);
    return object != nullptr && object->SetValue(value, length, password, password_length);
}

}  // namespace zmrmc
