#include "firmware_calls_exports.h"

#include "library.h"

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
    uint16_t MachineId() override {
        uint16_t id = static_cast<uint16_t>(ZmrMCGetMachineID());
        if (id != 0) return id;
        // Until the identity read at initialisation reports it, ask the driver for the identifier directly.
        FirmwareAccess* firmware = Library::Instance().Firmware();
        if (firmware == nullptr || !firmware->DriverOpen()) return 0;
        uint8_t answer[2] = {};
        uint32_t returned = 0;
        if (!firmware->Transport().Request(kIoctlSystemId, nullptr, 0, answer, sizeof answer, &returned) ||
            returned != 2)
            return 0;
        return static_cast<uint16_t>(answer[0] | (answer[1] << 8));
    }
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
        // Physical memory through the driver's read request; the shared physical-memory view replaces this.
        FirmwareAccess* firmware = Library::Instance().Firmware();
        if (firmware == nullptr || !firmware->DriverOpen()) return 0;
        return firmware->Transport().ReadPhysical(address, buffer, length);
    }
};

}  // namespace

FirmwareCalls& ExportFirmwareCalls() {
    static ExportCalls calls;
    return calls;
}

}  // namespace zmrmc
