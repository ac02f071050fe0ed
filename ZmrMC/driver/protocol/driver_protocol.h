// The protocol between the library and its driver (Zmrdtct), declared once for both sides: the request codes
// and every block a request carries, packed and little-endian, their offsets proven in
// driver_protocol_layout.cpp. Blocks travel as bytes: the library sends its block objects as they are; the
// driver reads them with Load (bounds-checked) and answers with Bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace zmrdtct {

// Request codes (device type 0x8000, any access). The low two bits are the transfer method: 0 buffered,
// 3 "neither" (the parameter block travels in the output buffer).
enum DriverRequest : uint32_t {
    kIoctlReadPhysical = 0x80002000,    // in PhysicalReadRequest, out the bytes read
    kIoctlSystemId = 0x80002008,        // out SystemIdAnswer
    kIoctlPciBios = 0x80002024,         // RegisterBlock in and out
    kIoctlSitAddress = 0x80002040,      // out SitAddressAnswer
    kIoctlInt15 = 0x80002058,           // RegisterBlock with or without its data area, in and out
    kIoctlInt15Strings = 0x80002060,    // RegisterBlock with its data area, in and out
    kIoctlInt16Bit = 0x80002150,        // InterruptRequest with its data area, in and out
    kIoctlPnpBios = 0x80002154,         // the Plug and Play BIOS parameter words, in and out
    kIoctlGrantMemory = 0x80002158,     // MemoryRequest in and out
    kIoctlReleaseMemory = 0x8000215C,   // MemoryRequest
    kIoctlCpuSerial = 0x80002160,       // CpuSerialBlock in and out
    kIoctlSmbiosEntry = 0x80002164,     // out SmbiosEntryAnswer
    kIoctlVersion = 0x80002407,         // out VersionAnswer
    kIoctlFlashWrite = 0x8000240F,      // FlashBlock
    kIoctlSecurity = 0x8000241B,        // BufferBlock (the command buffer)
    kIoctlPasswordState = 0x8000241F,   // out PasswordStateAnswer
    kIoctlLockState = 0x80002427,       // LockStateBlock in and out
    kIoctlObjectList = 0x8000242B,      // out BufferBlock (the caller's list buffer)
    kIoctlObjectListSize = 0x8000242F,  // out BufferBlock (address 0, the size comes back)
    kIoctlObjectInfo = 0x80002433,      // out ObjectBlock
    kIoctlObjectValue = 0x80002437,     // out ObjectBlock
    kIoctlSetObjectValue = 0x8000243B,  // out ObjectBlock
    kIoctlFlashRead = 0x8000243F,       // FlashBlock
};

#pragma pack(push, 1)

// EAX .. EFLAGS of every INT 15h, PCI BIOS and 16-bit interrupt call. AH (byte 1) carries the firmware's
// return code on return.
struct Registers {
    uint32_t eax;
    uint32_t ebx;
    uint32_t ecx;
    uint32_t edx;
    uint32_t esi;
    uint32_t edi;       // low word: offset of a data block
    uint32_t segments;  // low word: real-mode segment of a data block; high word: a second one
    uint32_t eflags;    // on return; bit 0 = carry = failure
};

// The register block of 32-bit INT 15h and PCI BIOS calls; the data area, when there is one, follows it.
struct RegisterBlock {
    Registers registers;
    uint32_t dataLength;  // the data area's length, and a second copy (the library sets both)
    uint32_t dataLength2;
};

// The 16-bit interrupt request: the caller's registers and the interrupt number; the data area follows.
struct InterruptRequest {
    Registers registers;
    uint16_t interrupt;
};

struct PhysicalReadRequest {
    uint32_t address;
    uint32_t length;
};

// Obtaining and releasing a conventional-memory block.
struct MemoryRequest {
    static constexpr uint16_t kFixed1 = 18;
    static constexpr uint16_t kFixed2 = 64;

    uint32_t address;  // linear address of the data the block mirrors
    uint32_t length;
    uint16_t fixed1;   // kFixed1
    uint16_t fixed2;   // kFixed2
    uint16_t flags;    // bit 0 cleared
    uint16_t segment;  // grant: in, the segment wanted (0: any), out, the block's (0: none); release: the block
    uint32_t reserved;
};

// A status byte and a buffer of the caller's: the system-object list and its size, the security command.
struct BufferBlock {
    uint8_t status;  // 0 going in; the firmware's status coming back
    uint32_t address;
    uint32_t size;
};

// System-object information, value and set value.
struct ObjectBlock {
    uint8_t status;
    uint16_t index;
    uint32_t address;
    uint32_t length;
};

struct LockStateBlock {
    uint8_t status;
    uint8_t lock;  // 0 unlock, 1 lock
    uint16_t passwordLength;
    uint32_t password;  // address of a NUL-terminated copy
};

struct PasswordStateAnswer {
    uint8_t status;
    uint32_t set;
};

struct VersionAnswer {
    uint8_t status;
    uint8_t major;
    uint8_t minor;
};

struct CpuSerialBlock {
    uint32_t size;  // the block's own size going in
    uint32_t answer;
    uint32_t reserved;
};

struct SystemIdAnswer {
    uint16_t id;
};

struct SitAddressAnswer {
    uint32_t address;  // low 20 bits: the physical address of the system information table
};

struct SmbiosEntryAnswer {
    uint8_t entry[31];
};

struct FlashBlock {
    uint8_t status;
    uint32_t image;  // address and length of the image (write) or of the buffer it is read into (read)
    uint32_t length;
    uint32_t password;  // address of the password bytes
    uint16_t passwordLength;
};

#pragma pack(pop)

// The block at the start of `bytes`, or none when they are too short for it.
template <class Block>
std::optional<Block> Load(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < sizeof(Block)) return std::nullopt;
    Block block;
    std::memcpy(&block, bytes.data(), sizeof block);
    return block;
}

// The block as bytes.
template <class Block>
std::vector<uint8_t> ToBytes(const Block& block) {
    std::vector<uint8_t> bytes(sizeof block);
    std::memcpy(bytes.data(), &block, sizeof block);
    return bytes;
}

// Copies the block over the first bytes of `bytes`, which must hold at least the block.
template <class Block>
void Store(const Block& block, std::vector<uint8_t>& bytes) {
    if (bytes.size() >= sizeof block) std::memcpy(bytes.data(), &block, sizeof block);
}

}  // namespace zmrdtct
