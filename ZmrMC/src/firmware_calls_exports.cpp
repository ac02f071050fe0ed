#include "firmware_calls_exports.h"

#include "library.h"
#include "physical_memory_view.h"

#include <algorithm>
#include <cstring>

namespace zmrmc {
namespace {

class ExportCalls : public FirmwareCalls {
public:
    bool ObjectListSize(uint32_t* size) override { return ZmrMCGetSysObjListSize(size) != 0; }
    bool ObjectList(void* list, uint32_t size) override { return ZmrMCGetSysObjList(list, size) != 0; }
    bool ObjectInfo(uint16_t index, void* info, uint32_t length) override {
        return ZmrMCGetSysObjInfo(index, info, length) != 0;
    }
    bool ObjectValue(uint16_t index, void* value, uint32_t length) override {
        return ZmrMCGetSysObjValue(index, value, length) != 0;
    }
    bool SetObjectValue(uint16_t index, const void* value, uint32_t length) override {
        return ZmrMCSetSysObjValue(index, value, length) != 0;
    }
    bool SetupPasswordSet() override { return ZmrMCGetIsAPwdSet() != 0; }
    bool ChangeLockState(const char* password, uint16_t length, bool lock) override {
        unsigned char status = 0;
        return ZmrMCChangeSysObjLockState(password, length, lock ? 1 : 0, &status) != 0;
    }
    bool Int15(ZmrMCRegisterBlock* regs, int size) override {
        unsigned char status = 0;
        return ZmrMCCall32bitInt15IOCtl(regs, size, &status) != 0;
    }
    ZmrMCStatus ChangeAdminPassword(const char* old, const char* fresh) override {
        return ZmrMCChangeAdminPassword(old, fresh);
    }
    ZmrMCStatus ChangePowerOnPassword(const char* old, const char* fresh) override {
        return ZmrMCChangePowerOnPassword(old, fresh);
    }
    bool SecuritySettings(const void* command, int length) override {
        unsigned char status = 0;
        return ZmrMCSetSecuritySettings(command, length, &status) != 0;
    }
    uint16_t MachineId() override { return static_cast<uint16_t>(ZmrMCGetMachineID()); }
    bool Interrupt15(ZmrMCRegisterBlock* regs, int size) override {
        unsigned char status = 0;
        return ZmrMCCall16bitIntIOCtl(0x15, regs, size, &status) != 0;
    }
    std::string IdentityText(Text which) override {
        const char* text = "";
        switch (which) {
        case Text::kManufacturer: text = ZmrMCGetSystemManufacturer(); break;
        case Text::kProduct: text = ZmrMCGetSystemProduct(); break;
        case Text::kSerialNumber: text = ZmrMCGetSerialNumber(); break;
        case Text::kAssetTag: text = ZmrMCGetAssetTag(); break;
        case Text::kOwnership: text = ZmrMCGetOwnershipString(); break;
        }
        return text != nullptr ? text : "";
    }
    bool IplDeviceInfo(ZmrMCIplInfo* info, int* maxCount, int* entrySize, int* tableSize) override {
        return ZmrMCGetIPLDevInfo(info, maxCount, entrySize, tableSize) != 0;
    }
    bool IplTable(unsigned char* buffer, int length, int maxCount, int entrySize) override {
        return ZmrMCGetIPLTableInfo(buffer, length, maxCount, entrySize) != 0;
    }
    bool SetIplPriority(const unsigned char* priority, int count) override {
        return ZmrMCSetIPLPriority(priority, count) != 0;
    }
    uint32_t ReadPhysical(uint32_t address, void* buffer, uint32_t length) override {
        // Firmware data that real-mode pointers address is read through a view of its whole 64 KB bank.
        PhysicalMemoryView view;
        view.Create(address & 0xFFFF0000u, 0xFFFF);
        const uint8_t* bank = view.Address();
        uint32_t offset = address & 0xFFFF;
        if (bank == nullptr || offset >= 0xFFFF) return 0;
        uint32_t count = std::min<uint32_t>(length, 0xFFFF - offset);
        std::memcpy(buffer, bank + offset, count);
        return count;
    }
};

}  // namespace

FirmwareCalls& ExportFirmwareCalls() {
    static ExportCalls calls;
    return calls;
}

}  // namespace zmrmc
