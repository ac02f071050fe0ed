// One imitated system object of the legacy catalogue: a setting of older firmware, reached through its INT 15h
// functions (or the Plug and Play boot devices, or the identity texts) and presented with the information
// block and value layout of a native system object.
//
// Created by SysObjList for the machines of the legacy catalogue and owned by it. The firmware interface
// given at creation must outlive the object.
#pragma once

#include "firmware_calls.h"

#include <cstdint>

namespace zmrmc {

class LegacySysObj {
public:
    LegacySysObj(const char* internal_name, uint16_t name_id, uint16_t menu, uint16_t submenu, bool read_only,
                 FirmwareCalls& firmware);
    virtual ~LegacySysObj() = default;
    LegacySysObj(const LegacySysObj&) = delete;
    LegacySysObj& operator=(const LegacySysObj&) = delete;

    // Whether the firmware answers this setting: decided by the first value read and remembered.
    virtual bool IsSupported();
    // The 20-byte information block: type, flags (2 for read-only objects), value size, menu path.
    virtual bool GetInfo(void* info, uint32_t length);
    // The value: name ID, then the type's payload, in a zeroed buffer of at least Size() bytes.
    virtual bool GetValue(void* buffer, uint32_t length);
    // Writes a value whose first u16 is this object's name ID (at least 4 bytes). The password (scan codes)
    // is used by the objects whose firmware call carries one.
    virtual bool SetValue(const void* buffer, uint32_t length, const char* password, uint16_t password_length);
    virtual uint16_t Type() const = 0;
    virtual uint32_t Size() = 0;

    const char* InternalName() const { return internal_name_; }
    uint16_t NameId() const { return name_id_; }

protected:
    // The type's payload after the name ID (the buffer is zeroed, at least Size() bytes).
    virtual bool ReadPayload(uint8_t* value) = 0;
    // Writes a checked value (name ID already verified).
    virtual bool WritePayload(const uint8_t* value, uint32_t length, const char* password,
                              uint16_t password_length) = 0;

    FirmwareCalls& firmware_;

private:
    const char* internal_name_;
    uint16_t name_id_;
    uint16_t menu_, submenu_;
    bool read_only_;
    bool support_known_ = false;
    bool supported_ = false;
    bool probing_ = false;  // the first read is under way: support checks made inside it pass
};

}  // namespace zmrmc
