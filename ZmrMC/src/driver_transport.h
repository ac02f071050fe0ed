// The device I/O control requests the library sends to its driver (Zmrdtct), with their buffers laid out byte
// for byte. Buffers whose addresses travel inside a request block are taken from VirtualAlloc, so that the
// 32-bit address fields name memory the driver can reach.
//
// Not thread-safe: the host serialises calls into the library.
#pragma once

#include "ZmrMC.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zmrmc {

// Request codes (device type 0x8000, any access).
enum DriverRequest : uint32_t {
    kIoctlReadPhysical = 0x80002000,
    kIoctlSystemId = 0x80002008,
    kIoctlPciBios = 0x80002024,
    kIoctlSitAddress = 0x80002040,
    kIoctlInt15 = 0x80002058,
    kIoctlInt15Strings = 0x80002060,
    kIoctlInt16Bit = 0x80002150,
    kIoctlPnpBios = 0x80002154,
    kIoctlGrantMemory = 0x80002158,
    kIoctlReleaseMemory = 0x8000215C,
    kIoctlCpuSerial = 0x80002160,
    kIoctlSmbiosEntry = 0x80002164,
    kIoctlVersion = 0x80002407,
    kIoctlSecurity = 0x8000241B,
    kIoctlPasswordState = 0x8000241F,
    kIoctlLockState = 0x80002427,
    kIoctlObjectList = 0x8000242B,
    kIoctlObjectListSize = 0x8000242F,
    kIoctlObjectInfo = 0x80002433,
    kIoctlObjectValue = 0x80002437,
    kIoctlSetObjectValue = 0x8000243B,
};

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
    bool ObjectBlock(uint32_t code, uint16_t index, SharedBuffer& buffer, uint32_t length);

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::vector<uint16_t> granted_;  // conventional-memory segments still held
};

}  // namespace zmrmc
