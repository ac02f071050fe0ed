// The firmware functions the settings model reads through, named as the library exports them. The library
// answers them with its own exports (firmware_calls_exports.cpp); tests answer them with a scripted firmware.
//
// Every call is made with the settings model's lock held; implementations need no lock of their own.
#pragma once

#include "ZmrMC.h"

#include <cstdint>
#include <string>

namespace zmrmc {

class FirmwareCalls {
public:
    virtual ~FirmwareCalls() = default;

    // Native system objects (ZmrMCGetSysObj*, ZmrMCSetSysObjValue).
    virtual bool ObjectListSize(uint32_t* size) = 0;
    virtual bool ObjectList(void* list, uint32_t size) = 0;
    virtual bool ObjectInfo(uint16_t index, void* info, uint32_t length) = 0;
    virtual bool ObjectValue(uint16_t index, void* value, uint32_t length) = 0;
    virtual bool SetObjectValue(uint16_t index, const void* value, uint32_t length) = 0;

    // Setup password state and the lock of the system objects.
    virtual bool SetupPasswordSet() = 0;
    virtual bool ChangeLockState(const char* password, uint16_t length, bool lock) = 0;

    // The 16-bit system identifier (ZmrMCGetMachineID).
    virtual uint16_t MachineId() = 0;
    // A 16-bit interrupt 0x15 call (ZmrMCCall16bitIntIOCtl): true when it reached the firmware and AH is 0.
    virtual bool Interrupt15(ZmrMCRegisterBlock* regs, int size) = 0;
    // A 32-bit INT 15h call (ZmrMCCall32bitInt15IOCtl), with the same result.
    virtual bool Int15(ZmrMCRegisterBlock* regs, int size) = 0;

    // The password functions (ZmrMCChangeAdminPassword, ZmrMCChangePowerOnPassword): 0 or a status code.
    virtual ZmrMCStatus ChangeAdminPassword(const char* old, const char* fresh) = 0;
    virtual ZmrMCStatus ChangePowerOnPassword(const char* old, const char* fresh) = 0;
    // The security settings command (ZmrMCSetSecuritySettings): true when its status byte came back 0.
    virtual bool SecuritySettings(const void* command, int length) = 0;

    // Identity texts the legacy catalogue shows.
    enum class Text { kManufacturer, kProduct, kSerialNumber, kAssetTag, kOwnership };
    virtual std::string IdentityText(Text which) = 0;

    // Plug and Play boot devices (ZmrMCGetIPLDevInfo, ZmrMCGetIPLTableInfo, ZmrMCSetIPLPriority).
    virtual bool IplDeviceInfo(ZmrMCIplInfo* info, int* maxCount, int* entrySize, int* tableSize) = 0;
    virtual bool IplTable(unsigned char* buffer, int length, int maxCount, int entrySize) = 0;
    virtual bool SetIplPriority(const unsigned char* priority, int count) = 0;

    // Reads `length` bytes of physical memory; the number of bytes read (0 when none).
    virtual uint32_t ReadPhysical(uint32_t address, void* buffer, uint32_t length) = 0;
};

}  // namespace zmrmc
