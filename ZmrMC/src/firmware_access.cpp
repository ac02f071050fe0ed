#include "firmware_access.h"

#include "conventional_memory_table.h"

#include <cstring>

namespace zmrmc {

FirmwareAccess::FirmwareAccess(SmbiosInstrumentationSource instrumentation)
    : smbios_(std::move(instrumentation), [this](uint32_t address, void* buffer, uint32_t length) {
          return transport_.ReadPhysical(address, buffer, length);
      }) {}

FirmwareAccess::~FirmwareAccess() {
    smbios_.Discard();
    installation_.Teardown(transport_);
}

void FirmwareAccess::Open(bool open_existing, bool install_driver) {
    installation_.Open(transport_, open_existing, install_driver);
    ReadIdentity();
}

bool FirmwareAccess::Reachable() const { return transport_.IsOpen() || identity_.smbios; }

bool FirmwareAccess::CallInt15(ZmrMCRegisterBlock* regs, int size, unsigned char* status) {
    return transport_.CallInt15(regs, size, status);
}

bool FirmwareAccess::CallInterrupt(int interrupt, ZmrMCRegisterBlock* regs, int size, unsigned char* status) {
    return transport_.CallInterrupt(interrupt, regs, size, status,
                                    CallWithoutConventionalMemory(identity_.rom_family, bios_release_date_));
}

bool FirmwareAccess::PxeNextBoot(char* value, bool set) {
    if (value == nullptr) return false;
    ZmrMCRegisterBlock regs{};
    regs.eax = 0xE845;
    regs.ecx = 0x71;
    regs.ebx = set ? 1u | (static_cast<uint32_t>(static_cast<uint8_t>(*value)) << 8) : 0u;
    unsigned char status = 0;
    if (!transport_.CallInt15(&regs, sizeof regs, &status) || (regs.eflags & 1) != 0) return false;
    if (!set) *value = static_cast<char>(regs.ebx >> 8);
    return true;
}

bool FirmwareAccess::SecuritySettings(const void* command, int length, unsigned char* status) {
    return transport_.SecuritySettings(command, length, status);
}

bool FirmwareAccess::SetupPasswordSet() {
    uint32_t status = 0xFFFF;
    uint8_t state[4] = {};
    HRESULT hr = gate_.Call(0x20000, 5, 0, sizeof state, &status, nullptr, state);
    if (GateStatus(hr, status) == 0) return (state[0] & 2) != 0;
    return transport_.SetupPasswordSet();
}

bool FirmwareAccess::ChangeLockState(const char* password, uint16_t length, bool lock, unsigned char* status) {
    if (status != nullptr) *status = 0;
    if (!SetupPasswordSet()) return true;
    if (password == nullptr || length == 0) return false;
    return transport_.ChangeLockState(password, length, lock, status);
}

bool FirmwareAccess::ObjectListSize(uint32_t* size) { return transport_.ObjectListSize(size); }
bool FirmwareAccess::ObjectList(void* list, uint32_t size) { return transport_.ObjectList(list, size); }
bool FirmwareAccess::ObjectInfo(uint16_t index, void* info, uint32_t length) {
    return transport_.ObjectInfo(index, info, length);
}
bool FirmwareAccess::ObjectValue(uint16_t index, void* value, uint32_t length) {
    return transport_.ObjectValue(index, value, length);
}
bool FirmwareAccess::SetObjectValue(uint16_t index, const void* value, uint32_t length) {
    return transport_.SetObjectValue(index, value, length);
}

}  // namespace zmrmc
