// The object-list reader of the settings model: the firmware's native system objects, or, on the models of
// the legacy catalogue, the imitated objects that answered. Which of the two is decided once, on first use.
//
// Used under the settings model's lock only. Owns the imitated objects; the firmware interface must outlive
// the reader.
#pragma once

#include "boot_devices.h"
#include "firmware_calls.h"
#include "legacy_sys_obj.h"

#include <array>
#include <cstdint>
#include <memory>

namespace zmrmc {

class SysObjList {
public:
    static constexpr size_t kSlots = 128;

    explicit SysObjList(FirmwareCalls& firmware);
    ~SysObjList();
    SysObjList(const SysObjList&) = delete;
    SysObjList& operator=(const SysObjList&) = delete;

    // The five system-object operations with the exports' meaning. Imitated: list size = count * 8 + 4
    // (false when only the string table answered), list entries indexed by slot number.
    bool ListSize(uint32_t* size);
    bool List(void* list, uint32_t size);
    bool Info(uint16_t index, void* info, uint32_t length);
    bool Value(uint16_t index, void* value, uint32_t length);
    bool SetValue(uint16_t index, const void* value, uint32_t length, const char* password, uint16_t password_length);

    bool Native();           // decides the mode when not yet decided
    size_t ImitatedCount();  // leading filled slots

private:
    void Decide();
    LegacySysObj* Slot(uint16_t index);

    FirmwareCalls& firmware_;
    BootDevices boot_;
    bool decided_ = false;
    bool native_ = false;
    std::array<std::unique_ptr<LegacySysObj>, kSlots> slots_;
};

}  // namespace zmrmc
