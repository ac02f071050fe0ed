// The device I/O control requests the library sends to its driver (Zmrdtct), with the blocks of the driver
// protocol (driver_protocol.h). Buffers whose addresses travel inside a request block are taken from
// VirtualAlloc, so that the 32-bit address fields name memory the driver can reach.
//
// A driver that goes away (its process dies: a request fails because the device's peer is gone) is started
// again: the operation that found it gone calls the reopen the installation gave, then runs once more. The
// conventional-memory blocks the lost driver had granted are granted again by the new one under the same
// segments, which their holders still use; a block that cannot be restored so fails every operation that may
// point into granted memory (PnpBios, Request) until its holder releases it. While the driver stays gone,
// every operation tries to start it again, at most once a second.
//
// Not thread-safe: the host serialises calls into the library.
#pragma once

#include "ZmrMC.h"
#include "driver_protocol.h"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zmrmc {

// The request codes of the driver protocol, by their names.
using enum zmrdtct::DriverRequest;

// Memory from VirtualAlloc, cleared and released with the object (the driver can read the area, and some
// buffers carry a password).
class SharedBuffer {
public:
    explicit SharedBuffer(size_t size);
    ~SharedBuffer();
    SharedBuffer(const SharedBuffer&) = delete;
    SharedBuffer& operator=(const SharedBuffer&) = delete;
    bool ok() const { return data_ != nullptr; }
    uint8_t* data() const { return data_; }
    // The 32-bit address of a byte of the buffer.
    uint32_t Address(size_t offset = 0) const;

private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

class DriverTransport {
public:
    DriverTransport() = default;
    ~DriverTransport();
    DriverTransport(const DriverTransport&) = delete;
    DriverTransport& operator=(const DriverTransport&) = delete;

    // Opens a device name ("\\.\ZMRVextor"); closes any handle held before. False when it cannot be opened.
    bool OpenDevice(const wchar_t* name);
    void Close();
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

    // Given by the installation that opened the transport: starts the driver again and reopens its device;
    // true when the device is open again. Without it a driver that went away stays gone.
    void SetReopen(std::function<bool()> reopen) { reopen_ = std::move(reopen); }
    // How many times the driver was found gone.
    uint32_t Losses() const { return losses_; }

    // Driver version (request 0x80002407): false when the request fails or answers fewer than 3 bytes.
    bool Version(uint8_t* major, uint8_t* minor);

    // Sends one request; `returned` receives the bytes that came back.
    bool Request(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize, uint32_t* returned);

    // Physical memory (request 0x80002000): the number of bytes read into `buffer`, 0 on failure.
    uint32_t ReadPhysical(uint32_t address, void* buffer, uint32_t length);

    // System identifier (request 0x80002008): only when exactly 2 bytes come back.
    bool SystemId(uint16_t* id);
    // The firmware's 31-byte SMBIOS entry point (request 0x80002164): only when exactly 31 bytes come back.
    bool SmbiosEntryPoint(uint8_t entry[31]);
    // Physical address of the ROM's system information table (request 0x80002040, low 20 bits); 0 when none.
    uint32_t SystemInformationAddress();
    // PCI BIOS call (INT 1Ah, AH = B1h) on a 40-byte register block: true when the carry flag comes back clear.
    bool PciBios(ZmrMCRegisterBlock* regs);
    // Plug and Play BIOS call: words[0] the function in, the return code out; the parameters follow (far
    // pointers as offset, segment, into granted conventional memory). True when the return code is 0.
    bool PnpBios(uint16_t* words, size_t count);

    // 32-bit INT 15h call: the caller's block, in and out.
    bool CallInt15(ZmrMCRegisterBlock* regs, int size, unsigned char* status, uint32_t code = kIoctlInt15);
    // 16-bit interrupt call with the data area in a conventional-memory block (unless `withoutBlock`).
    bool CallInterrupt(int interrupt, ZmrMCRegisterBlock* regs, int size, unsigned char* status, bool withoutBlock);

    // A conventional-memory block mirroring `length` bytes at `address`: its segment, 0 when none was granted.
    uint16_t GrantMemory(uint32_t address, uint32_t length);
    void ReleaseMemory(uint16_t segment);
    void ReleaseAllMemory();

    // System objects: the request's success (the block's status byte is not examined).
    bool ObjectListSize(uint32_t* size);
    bool ObjectList(void* list, uint32_t size);
    bool ObjectInfo(uint16_t index, void* info, uint32_t length);
    bool ObjectValue(uint16_t index, void* value, uint32_t length);
    bool SetObjectValue(uint16_t index, const void* value, uint32_t length);
    // Lock or unlock the system objects with the setup password; `status` = the block's status byte.
    bool ChangeLockState(const char* password, uint16_t length, bool lock, unsigned char* status);
    // Setup password state: true only when 5 bytes came back with status 0 and a nonzero value.
    bool SetupPasswordSet();
    bool SecuritySettings(const void* command, int length, unsigned char* status);

private:
    struct Block {
        uint16_t segment;
        uint32_t address;  // the data it mirrors
        uint32_t length;
    };

    // Runs one operation; when it found the driver gone, starts the driver again and runs it once more.
    // One that may point into granted memory (`usesGrantedMemory`) fails while a block could not be restored.
    template <class Operation>
    bool Run(Operation operation, bool usesGrantedMemory = false);
    // One DeviceIoControl; a failure because the device's peer is gone marks the driver lost.
    bool Send(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize, uint32_t* returned);
    void Lose();
    bool Recover();
    // A block for `length` bytes at `address`, at segment `wanted` or (0) anywhere; its segment, or 0.
    uint16_t Grant(uint32_t address, uint32_t length, uint16_t wanted = 0);
    bool ObjectBlock(uint32_t code, uint16_t index, SharedBuffer& buffer, uint32_t length);

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::vector<Block> granted_;      // conventional-memory blocks held
    std::vector<Block> lost_blocks_;  // held from a driver that went away, to be granted again
    std::vector<uint16_t> stale_;     // segments of blocks that could not be granted again
    std::function<bool()> reopen_;
    bool lost_ = false;  // the driver went away and is not back yet
    uint32_t losses_ = 0;
    std::chrono::steady_clock::time_point next_attempt_{};  // after a failed start: not before this
};

}  // namespace zmrmc
