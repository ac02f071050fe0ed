#include "driver_transport.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace zmrmc {
namespace {

using zmrdtct::BufferBlock;
using zmrdtct::InterruptRequest;
using zmrdtct::LockStateBlock;
using zmrdtct::MemoryRequest;
using zmrdtct::PasswordStateAnswer;
using zmrdtct::PhysicalReadRequest;
using zmrdtct::RegisterBlock;
using zmrdtct::Registers;
using zmrdtct::SitAddressAnswer;
using zmrdtct::SmbiosEntryAnswer;
using zmrdtct::SystemIdAnswer;
using zmrdtct::VersionAnswer;

// Callers' register blocks go to the driver unchanged: the public block is the protocol's.
#define ZMRMC_SAME_AS_PROTOCOL(field, protocol) \
    static_assert(offsetof(ZmrMCRegisterBlock, field) == offsetof(RegisterBlock, protocol), #field)
ZMRMC_SAME_AS_PROTOCOL(eax, registers.eax);
ZMRMC_SAME_AS_PROTOCOL(ebx, registers.ebx);
ZMRMC_SAME_AS_PROTOCOL(ecx, registers.ecx);
ZMRMC_SAME_AS_PROTOCOL(edx, registers.edx);
ZMRMC_SAME_AS_PROTOCOL(esi, registers.esi);
ZMRMC_SAME_AS_PROTOCOL(edi, registers.edi);
ZMRMC_SAME_AS_PROTOCOL(segments, registers.segments);
ZMRMC_SAME_AS_PROTOCOL(eflags, registers.eflags);
ZMRMC_SAME_AS_PROTOCOL(dataLength, dataLength);
ZMRMC_SAME_AS_PROTOCOL(dataLength2, dataLength2);
static_assert(offsetof(ZmrMCRegisterBlock, data) == sizeof(RegisterBlock), "the data area follows the block");
static_assert(sizeof(ZmrMCRegisterBlock) == sizeof(RegisterBlock));

constexpr uint32_t kObjectInfoSize = 20;  // a system object's information block

unsigned char Ah(const void* block) { return static_cast<const uint8_t*>(block)[1]; }

bool NotReached(unsigned char* status) {
    if (status != nullptr) *status = ZMRMC_STATUS_NOT_REACHED;
    return false;
}

// A conventional-memory request for `length` bytes at `address` (release: for the block at `segment`).
MemoryRequest MemoryBlock(uint32_t address, uint32_t length, uint16_t segment) {
    return {address, length, MemoryRequest::kFixed1, MemoryRequest::kFixed2, 0, segment, 0};
}

}  // namespace

SharedBuffer::SharedBuffer(size_t size)
    : data_(
          static_cast<uint8_t*>(VirtualAlloc(nullptr, size == 0 ? 1 : size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))),
      size_(data_ != nullptr ? size : 0) {}

SharedBuffer::~SharedBuffer() {
    if (data_ == nullptr) return;
    SecureZeroMemory(data_, size_);
    VirtualFree(data_, 0, MEM_RELEASE);
}

uint32_t SharedBuffer::Address(size_t offset) const {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data_ + offset));
}

DriverTransport::~DriverTransport() { Close(); }

bool DriverTransport::OpenDevice(const wchar_t* name) {
    Close();
    handle_ = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return IsOpen();
}

void DriverTransport::Close() {
    if (!IsOpen()) return;
    ReleaseAllMemory();
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

bool DriverTransport::Send(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize, uint32_t* returned) {
    DWORD count = 0;
    bool ok = IsOpen() && DeviceIoControl(handle_, code, in, inSize, out, outSize, &count, nullptr) != FALSE;
    if (!ok && IsOpen() && GetLastError() == ERROR_BROKEN_PIPE) Lose();
    if (returned != nullptr) *returned = count;
    return ok;
}

void DriverTransport::Lose() {
    // The driver's end is gone, and with it every conventional-memory block it granted.
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    lost_blocks_.insert(lost_blocks_.end(), granted_.begin(), granted_.end());
    granted_.clear();
    lost_ = true;
    ++losses_;
    next_attempt_ = {};
}

bool DriverTransport::Recover() {
    if (!lost_ || !reopen_) return false;
    auto now = std::chrono::steady_clock::now();
    if (now < next_attempt_) return false;
    if (reopen_() && IsOpen()) {
        lost_ = false;
        // Their holders still use the segments the lost driver gave: the same ones again.
        std::vector<Block> lost = std::move(lost_blocks_);
        lost_blocks_.clear();
        for (const Block& block : lost) {
            uint16_t segment = IsOpen() ? Grant(block.address, block.length, block.segment) : 0;
            if (segment == block.segment) continue;
            if (segment != 0) ReleaseMemory(segment);  // a driver that does not grant where it is asked to
            if (IsOpen())
                stale_.push_back(block.segment);
            else
                lost_blocks_.push_back(block);  // gone again: restored when it is back
        }
        return IsOpen();
    }
    next_attempt_ = now + std::chrono::seconds(1);
    return false;
}

template <class Operation>
bool DriverTransport::Run(Operation operation, bool usesGrantedMemory) {
    if (lost_) Recover();
    auto pointsNowhere = [&] { return usesGrantedMemory && !stale_.empty(); };
    if (pointsNowhere()) return false;
    uint32_t losses = losses_;
    bool ok = operation();
    if (ok || losses_ == losses || !Recover() || pointsNowhere()) return ok;
    return operation();
}

bool DriverTransport::Request(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                              uint32_t* returned) {
    return Run([&] { return Send(code, in, inSize, out, outSize, returned); }, true);
}

bool DriverTransport::Version(uint8_t* major, uint8_t* minor) {
    VersionAnswer answer{};
    uint32_t returned = 0;
    if (!Send(kIoctlVersion, nullptr, 0, &answer, sizeof answer, &returned) || returned < sizeof answer) return false;
    *major = answer.major;
    *minor = answer.minor;
    return true;
}

uint32_t DriverTransport::ReadPhysical(uint32_t address, void* buffer, uint32_t length) {
    if (buffer == nullptr || length == 0) return 0;
    PhysicalReadRequest request{address, length};
    uint32_t returned = 0;
    if (!Run([&] { return Send(kIoctlReadPhysical, &request, sizeof request, buffer, length, &returned); })) return 0;
    return returned;
}

bool DriverTransport::SystemId(uint16_t* id) {
    SystemIdAnswer answer{};
    uint32_t returned = 0;
    if (!Run([&] { return Send(kIoctlSystemId, nullptr, 0, &answer, sizeof answer, &returned); }) ||
        returned != sizeof answer)
        return false;
    *id = answer.id;
    return true;
}

bool DriverTransport::SmbiosEntryPoint(uint8_t entry[31]) {
    SmbiosEntryAnswer answer{};
    uint32_t returned = 0;
    if (!Run([&] { return Send(kIoctlSmbiosEntry, nullptr, 0, &answer, sizeof answer, &returned); }) ||
        returned != sizeof answer)
        return false;
    std::memcpy(entry, answer.entry, sizeof answer.entry);
    return true;
}

uint32_t DriverTransport::SystemInformationAddress() {
    SitAddressAnswer answer{};
    uint32_t returned = 0;
    if (!Run([&] { return Send(kIoctlSitAddress, nullptr, 0, &answer, sizeof answer, &returned); }) ||
        returned != sizeof answer)
        return 0;
    return answer.address & 0xFFFFF;
}

bool DriverTransport::PciBios(ZmrMCRegisterBlock* regs) {
    if (regs == nullptr) return false;
    if (!Run([&] { return Send(kIoctlPciBios, regs, sizeof(RegisterBlock), regs, sizeof(RegisterBlock), nullptr); }))
        return false;
    return (regs->eflags & 1) == 0;
}

bool DriverTransport::PnpBios(uint16_t* words, size_t count) {
    if (words == nullptr || count == 0) return false;
    uint32_t bytes = static_cast<uint32_t>(count * sizeof(uint16_t));
    if (!Request(kIoctlPnpBios, words, bytes, words, bytes, nullptr)) return false;
    return words[0] == 0;
}

bool DriverTransport::CallInt15(ZmrMCRegisterBlock* regs, int size, unsigned char* status, uint32_t code) {
    if (regs == nullptr || size < static_cast<int>(sizeof(RegisterBlock))) return NotReached(status);
    uint32_t bytes = static_cast<uint32_t>(size);
    if (!Run([&] { return Send(code, regs, bytes, regs, bytes, nullptr); })) return NotReached(status);
    if (status != nullptr) *status = Ah(regs);
    return Ah(regs) == 0;
}

bool DriverTransport::CallInterrupt(int interrupt, ZmrMCRegisterBlock* regs, int size, unsigned char* status,
                                    bool withoutBlock) {
    if (regs == nullptr || size < static_cast<int>(sizeof(RegisterBlock))) return NotReached(status);
    // The caller's registers and data area, with the interrupt number in place of the two data lengths.
    uint32_t area = static_cast<uint32_t>(size) - sizeof(RegisterBlock);
    uint32_t requestSize = sizeof(InterruptRequest) + area;
    SharedBuffer buffer(requestSize);
    if (!buffer.ok()) return NotReached(status);
    InterruptRequest request{};
    std::memcpy(&request.registers, regs, sizeof request.registers);
    request.interrupt = static_cast<uint16_t>(interrupt);
    uint8_t* data = buffer.data() + sizeof request;
    // The whole call runs again when the driver went away during it: the block is granted anew.
    bool ok = Run([&] {
        std::memcpy(data, regs->data, area);
        uint16_t segment = area > 0 && !withoutBlock ? Grant(buffer.Address(sizeof request), area) : 0;
        InterruptRequest sent = request;
        if (segment != 0) {
            // The data starts the block: DI = 0 and the block's segment (the high words stay as they are).
            sent.registers.edi &= 0xFFFF0000u;
            sent.registers.segments = (sent.registers.segments & 0xFFFF0000u) | segment;
        }
        std::memcpy(buffer.data(), &sent, sizeof sent);
        bool sent_ok = Send(kIoctlInt16Bit, buffer.data(), requestSize, buffer.data(), requestSize, nullptr);
        if (segment != 0) ReleaseMemory(segment);
        return sent_ok;
    });
    if (!ok) return NotReached(status);
    std::memcpy(regs, buffer.data(), sizeof(Registers));
    std::memcpy(regs->data, data, area);
    if (status != nullptr) *status = Ah(regs);
    return Ah(regs) == 0;
}

uint16_t DriverTransport::Grant(uint32_t address, uint32_t length, uint16_t wanted) {
    MemoryRequest block = MemoryBlock(address, length, wanted);
    if (!Send(kIoctlGrantMemory, &block, sizeof block, &block, sizeof block, nullptr)) return 0;
    uint16_t segment = block.segment;
    if (segment != 0) granted_.push_back({segment, address, length});
    return segment;
}

uint16_t DriverTransport::GrantMemory(uint32_t address, uint32_t length) {
    uint16_t segment = 0;
    Run([&] { return (segment = Grant(address, length)) != 0; });
    return segment;
}

void DriverTransport::ReleaseMemory(uint16_t segment) {
    // A block of a driver that went away went with it: there is nothing to release.
    if (auto stale = std::find(stale_.begin(), stale_.end(), segment); stale != stale_.end()) {
        stale_.erase(stale);
        return;
    }
    auto same = [segment](const Block& block) { return block.segment == segment; };
    std::erase_if(lost_blocks_, same);
    if (std::none_of(granted_.begin(), granted_.end(), same)) return;
    MemoryRequest block = MemoryBlock(0, 0, segment);
    Send(kIoctlReleaseMemory, &block, sizeof block, &block, sizeof block, nullptr);
    std::erase_if(granted_, same);
}

void DriverTransport::ReleaseAllMemory() {
    while (!granted_.empty()) ReleaseMemory(granted_.back().segment);
}

bool DriverTransport::ObjectListSize(uint32_t* size) {
    BufferBlock block{};
    bool ok = Run([&] { return Send(kIoctlObjectListSize, nullptr, 0, &block, sizeof block, nullptr); });
    *size = ok ? block.size : 0;
    return ok;
}

bool DriverTransport::ObjectList(void* list, uint32_t size) {
    if (list == nullptr || size == 0) return false;
    SharedBuffer buffer(size);
    if (!buffer.ok()) return false;
    BufferBlock block{0, buffer.Address(), size};
    if (!Run([&] { return Send(kIoctlObjectList, nullptr, 0, &block, sizeof block, nullptr); })) return false;
    std::memcpy(list, buffer.data(), size);
    return true;
}

bool DriverTransport::ObjectBlock(uint32_t code, uint16_t index, SharedBuffer& buffer, uint32_t length) {
    zmrdtct::ObjectBlock block{0, index, buffer.Address(), length};
    return Run([&] { return Send(code, nullptr, 0, &block, sizeof block, nullptr); });
}

bool DriverTransport::ObjectInfo(uint16_t index, void* info, uint32_t length) {
    if (info == nullptr || length < kObjectInfoSize) return false;
    SharedBuffer buffer(length);
    if (!buffer.ok() || !ObjectBlock(kIoctlObjectInfo, index, buffer, length)) return false;
    std::memcpy(info, buffer.data(), length);
    return true;
}

bool DriverTransport::ObjectValue(uint16_t index, void* value, uint32_t length) {
    if (value == nullptr || length == 0) return false;
    SharedBuffer buffer(length);
    if (!buffer.ok() || !ObjectBlock(kIoctlObjectValue, index, buffer, length)) return false;
    std::memcpy(value, buffer.data(), length);
    return true;
}

bool DriverTransport::SetObjectValue(uint16_t index, const void* value, uint32_t length) {
    if (value == nullptr || length == 0) return false;
    SharedBuffer buffer(length);
    if (!buffer.ok()) return false;
    std::memcpy(buffer.data(), value, length);
    return ObjectBlock(kIoctlSetObjectValue, index, buffer, length);
}

bool DriverTransport::ChangeLockState(const char* password, uint16_t length, bool lock, unsigned char* status) {
    SharedBuffer copy(static_cast<size_t>(length) + 1);
    if (!copy.ok()) return NotReached(status);
    std::memcpy(copy.data(), password, length);
    copy.data()[length] = 0;
    LockStateBlock block{};
    bool ok = Run([&] {
        block = {0, static_cast<uint8_t>(lock ? 1 : 0), length, copy.Address()};
        return Send(kIoctlLockState, &block, sizeof block, &block, sizeof block, nullptr);
    });
    if (status != nullptr) *status = ok || block.status != 0 ? block.status : ZMRMC_STATUS_NOT_REACHED;
    return ok && block.status == 0;
}

bool DriverTransport::SetupPasswordSet() {
    PasswordStateAnswer answer{};
    uint32_t returned = 0;
    if (!Run([&] { return Send(kIoctlPasswordState, nullptr, 0, &answer, sizeof answer, &returned); })) return false;
    return returned == sizeof answer && answer.status == 0 && answer.set != 0;
}

bool DriverTransport::SecuritySettings(const void* command, int length, unsigned char* status) {
    if (command == nullptr || length < 0) return NotReached(status);
    SharedBuffer buffer(static_cast<size_t>(length));
    if (!buffer.ok()) return NotReached(status);
    std::memcpy(buffer.data(), command, static_cast<size_t>(length));
    BufferBlock block{};
    bool ok = Run([&] {
        block = {0, buffer.Address(), static_cast<uint32_t>(length)};
        return Send(kIoctlSecurity, &block, sizeof block, &block, sizeof block, nullptr);
    });
    if (!ok) return NotReached(status);
    if (status != nullptr) *status = block.status;
    return block.status == 0;
}

}  // namespace zmrmc
