// The firmware of the simulated PC, as the driver calls it inside one machine transaction (qv_machine.h).
//
// Return codes follow real firmware: INT 15h functions answer in AH with the carry flag set on failure; the
// Plug and Play BIOS answers in AX; the system-object and flash functions answer with a status byte. The codes
// this firmware uses are listed in docs/machine-profiles.md ("Firmware answers").
#pragma once

#include "qv_machine.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qv::machine {

using Bytes = std::vector<uint8_t>;

class Firmware {
public:
    virtual ~Firmware() = default;

    // INT 15h. `data` is the data area of a 32-bit call (null for a 16-bit call, whose data lives in `memory`
    // at segment:offset as the registers say).
    virtual CallOutcome Int15(Registers& regs, Bytes* data, RealModeMemory& memory, bool thirtyTwoBit) = 0;
    // Any other real-mode interrupt.
    virtual CallOutcome Interrupt(uint16_t number, Registers& regs, RealModeMemory& memory) = 0;
    // PCI BIOS (INT 1Ah, AH = B1h) functions B101h and B108h..B10Ah.
    virtual CallOutcome PciBios(Registers& regs) = 0;
    // Plug and Play BIOS entry: words[0] is the function in and the return code out; the other words are the
    // function's parameters in stack order (far pointers as offset, segment), the last one the BIOS selector.
    virtual CallOutcome PnpBios(std::vector<uint16_t>& words, RealModeMemory& memory) = 0;

    // Physical memory of the ROM area (0xE0000 to 0xFFFFF): the bytes, possibly fewer than asked for at the end
    // of the area; nothing for an address outside it.
    virtual Bytes ReadRomArea(uint32_t address, uint32_t length) = 0;
    virtual std::optional<uint16_t> SystemIdentifier() = 0;
    virtual uint32_t SystemInformationTableAddress() = 0;
    virtual std::optional<Bytes> SmbiosEntryPoint() = 0;  // 31 bytes, none without SMBIOS
    virtual bool CpuSerialNumberSupported() = 0;
    // The firmware's WMI-ACPI side: the call gate, and its own publication of the settings.
    virtual bool HasCallGate() = 0;
    virtual bool PublishesNativeSettings() = 0;
    // The flash part's size in bytes, and the block size and interface version the call gate announces.
    virtual uint32_t FlashSize() = 0;
    virtual uint32_t FlashBlockSize() = 0;
    virtual uint16_t FlashInterfaceVersion() = 0;

    // System objects. Each returns the status byte (0 success); values and lists are written to `out`.
    virtual uint8_t ObjectListSize(uint32_t& size, CallOutcome& outcome) = 0;
    virtual uint8_t ObjectList(Bytes& out, CallOutcome& outcome) = 0;
    virtual uint8_t ObjectInfo(uint16_t index, Bytes& out, CallOutcome& outcome) = 0;
    virtual uint8_t ObjectValue(uint16_t index, Bytes& out, CallOutcome& outcome) = 0;
    virtual uint8_t SetObjectValue(uint16_t index, const Bytes& value, CallOutcome& outcome) = 0;
    virtual uint8_t ChangeLockState(bool lock, const Bytes& password, CallOutcome& outcome) = 0;
    virtual uint8_t SetupPasswordState(uint32_t& set, CallOutcome& outcome) = 0;
    // Security settings command: u32 new bits, u32 mask of the bits written, then the setup password (NUL ends).
    virtual uint8_t SecuritySettings(const Bytes& command, CallOutcome& outcome) = 0;

    // The flash part: the whole image (the driver's requests) or one block at an offset (the call gate's).
    // Each checks the setup password when one is set. A write lands block by block and stops at the first
    // block that fails, with its status; the blocks before it stay written.
    virtual uint8_t FlashWrite(const Bytes& image, const Bytes& password, CallOutcome& outcome) = 0;
    virtual uint8_t FlashRead(Bytes& out, uint32_t length, const Bytes& password, CallOutcome& outcome) = 0;
    virtual uint8_t FlashWriteBlock(uint32_t offset, const Bytes& block, const Bytes& password,
                                    CallOutcome& outcome) = 0;
    virtual uint8_t FlashReadBlock(uint32_t offset, uint32_t size, Bytes& out, const Bytes& password,
                                   CallOutcome& outcome) = 0;
};

}  // namespace qv::machine
