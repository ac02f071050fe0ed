#include "driver_transport.h"

#include <cstring>

namespace zmrmc {
namespace {

constexpr int kRegisterBytes = 32;  // EAX .. EFLAGS
constexpr int kBlockHeader = 40;    // the registers and the two data-area lengths
constexpr int kRequestHeader = 34;  // 16-bit request: registers and the interrupt number

void Put16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
void Put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
uint32_t Get32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

unsigned char Ah(const void* block) { return static_cast<const uint8_t*>(block)[1]; }

bool NotReached(unsigned char* status) {
    if (status != nullptr) *status = ZMRMC_STATUS_NOT_REACHED;
    return false;
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

bool DriverTransport::Request(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                              uint32_t* returned) {
    DWORD count = 0;
    bool ok = IsOpen() && DeviceIoControl(handle_, code, in, inSize, out, outSize, &count, nullptr) != FALSE;
    if (returned != nullptr) *returned = count;
    return ok;
}

bool DriverTransport::Version(uint8_t* major, uint8_t* minor) {
    uint8_t answer[3] = {};
    uint32_t returned = 0;
    if (!Request(kIoctlVersion, nullptr, 0, answer, sizeof answer, &returned) || returned < 3) return false;
    *major = answer[1];
    *minor = answer[2];
    return true;
}

uint32_t DriverTransport::ReadPhysical(uint32_t address, void* buffer, uint32_t length) {
    if (buffer == nullptr || length == 0) return 0;
    uint8_t request[8];
    Put32(request, address);
    Put32(request + 4, length);
    uint32_t returned = 0;
    if (!Request(kIoctlReadPhysical, request, sizeof request, buffer, length, &returned)) return 0;
    return returned;
}

bool DriverTransport::SystemId(uint16_t* id) {
    uint8_t answer[2] = {};
    uint32_t returned = 0;
    if (!Request(kIoctlSystemId, nullptr, 0, answer, sizeof answer, &returned) || returned != 2) return false;
    *id = static_cast<uint16_t>(answer[0] | (answer[1] << 8));
    return true;
}

bool DriverTransport::SmbiosEntryPoint(uint8_t entry[31]) {
    uint8_t answer[31] = {};
    uint32_t returned = 0;
    if (!Request(kIoctlSmbiosEntry, nullptr, 0, answer, sizeof answer, &returned) || returned != 31) return false;
    std::memcpy(entry, answer, sizeof answer);
    return true;
}

uint32_t DriverTransport::SystemInformationAddress() {
    uint8_t answer[4] = {};
    uint32_t returned = 0;
    if (!Request(kIoctlSitAddress, nullptr, 0, answer, sizeof answer, &returned) || returned != 4) return 0;
    return Get32(answer) & 0xFFFFF;
}

bool DriverTransport::PciBios(ZmrMCRegisterBlock* regs) {
    if (regs == nullptr || !IsOpen()) return false;
    if (!Request(kIoctlPciBios, regs, kBlockHeader, regs, kBlockHeader, nullptr)) return false;
    return (regs->eflags & 1) == 0;
}

bool DriverTransport::PnpBios(uint16_t* words, size_t count) {
    if (words == nullptr || count == 0 || !IsOpen()) return false;
    uint32_t bytes = static_cast<uint32_t>(count * sizeof(uint16_t));
    if (!Request(kIoctlPnpBios, words, bytes, words, bytes, nullptr)) return false;
    return words[0] == 0;
}

bool DriverTransport::CallInt15(ZmrMCRegisterBlock* regs, int size, unsigned char* status, uint32_t code) {
    if (regs == nullptr || size < kBlockHeader || !IsOpen()) return NotReached(status);
    if (!Request(code, regs, static_cast<uint32_t>(size), regs, static_cast<uint32_t>(size), nullptr))
        return NotReached(status);
    if (status != nullptr) *status = Ah(regs);
    return Ah(regs) == 0;
}

bool DriverTransport::CallInterrupt(int interrupt, ZmrMCRegisterBlock* regs, int size, unsigned char* status,
                                    bool withoutBlock) {
    if (regs == nullptr || size < kBlockHeader || !IsOpen()) return NotReached(status);
    uint32_t requestSize = static_cast<uint32_t>(size - 6);
    SharedBuffer request(requestSize);
    if (!request.ok()) return NotReached(status);
    uint8_t* r = request.data();
    uint32_t area = static_cast<uint32_t>(size - kBlockHeader);
    std::memcpy(r, regs, kRegisterBytes);
    Put16(r + kRegisterBytes, static_cast<uint16_t>(interrupt));
    std::memcpy(r + kRequestHeader, regs->data, area);
    uint16_t segment = 0;
    if (area > 0 && !withoutBlock) {
        segment = GrantMemory(request.Address(kRequestHeader), area);
        if (segment != 0) {
            Put16(r + 20, 0);        // DI: the data starts the block
            Put16(r + 24, segment);  // its segment
        }
    }
    bool ok = Request(kIoctlInt16Bit, r, requestSize, r, requestSize, nullptr);
    if (segment != 0) ReleaseMemory(segment);
    if (!ok) return NotReached(status);
    std::memcpy(regs, r, kRegisterBytes);
    std::memcpy(regs->data, r + kRequestHeader, area);
    if (status != nullptr) *status = Ah(regs);
    return Ah(regs) == 0;
}

uint16_t DriverTransport::GrantMemory(uint32_t address, uint32_t length) {
    uint8_t block[20] = {};
    Put32(block, address);
    Put32(block + 4, length);
    Put16(block + 8, 18);
    Put16(block + 10, 64);
    Put16(block + 12, 0);  // flags, bit 0 cleared
    if (!Request(kIoctlGrantMemory, block, sizeof block, block, sizeof block, nullptr)) return 0;
    uint16_t segment = static_cast<uint16_t>(block[14] | (block[15] << 8));
    if (segment != 0) granted_.push_back(segment);
    return segment;
}

void DriverTransport::ReleaseMemory(uint16_t segment) {
    uint8_t block[20] = {};
    Put16(block + 8, 18);
    Put16(block + 10, 64);
    Put16(block + 14, segment);
    Request(kIoctlReleaseMemory, block, sizeof block, block, sizeof block, nullptr);
    std::erase(granted_, segment);
}

void DriverTransport::ReleaseAllMemory() {
    while (!granted_.empty()) ReleaseMemory(granted_.back());
}

bool DriverTransport::ObjectListSize(uint32_t* size) {
    uint8_t block[9] = {};
    bool ok = Request(kIoctlObjectListSize, nullptr, 0, block, sizeof block, nullptr);
    *size = ok ? Get32(block + 5) : 0;
    return ok;
}

bool DriverTransport::ObjectList(void* list, uint32_t size) {
    if (list == nullptr || size == 0) return false;
    SharedBuffer buffer(size);
    if (!buffer.ok()) return false;
    uint8_t block[9] = {};
    Put32(block + 1, buffer.Address());
    Put32(block + 5, size);
    if (!Request(kIoctlObjectList, nullptr, 0, block, sizeof block, nullptr)) return false;
    std::memcpy(list, buffer.data(), size);
    return true;
}

bool DriverTransport::ObjectBlock(uint32_t code, uint16_t index, SharedBuffer& buffer, uint32_t length) {
    uint8_t block[11] = {};
    Put16(block + 1, index);
    Put32(block + 3, buffer.Address());
    Put32(block + 7, length);
    return Request(code, nullptr, 0, block, sizeof block, nullptr);
}

bool DriverTransport::ObjectInfo(uint16_t index, void* info, uint32_t length) {
    if (info == nullptr || length < 20) return false;
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
    uint8_t block[8] = {0, static_cast<uint8_t>(lock ? 1 : 0)};
    Put16(block + 2, length);
    Put32(block + 4, copy.Address());
    bool ok = Request(kIoctlLockState, block, sizeof block, block, sizeof block, nullptr);
    if (status != nullptr) *status = ok || block[0] != 0 ? block[0] : ZMRMC_STATUS_NOT_REACHED;
    return ok && block[0] == 0;
}

bool DriverTransport::SetupPasswordSet() {
    uint8_t answer[5] = {};
    uint32_t returned = 0;
    if (!Request(kIoctlPasswordState, nullptr, 0, answer, sizeof answer, &returned)) return false;
    return returned == 5 && answer[0] == 0 && Get32(answer + 1) != 0;
}

bool DriverTransport::SecuritySettings(const void* command, int length, unsigned char* status) {
    if (command == nullptr || length < 0) return NotReached(status);
    SharedBuffer buffer(static_cast<size_t>(length));
    if (!buffer.ok()) return NotReached(status);
    std::memcpy(buffer.data(), command, static_cast<size_t>(length));
    uint8_t block[9] = {};
    Put32(block + 1, buffer.Address());
    Put32(block + 5, static_cast<uint32_t>(length));
    if (!Request(kIoctlSecurity, block, sizeof block, block, sizeof block, nullptr)) return NotReached(status);
    if (status != nullptr) *status = block[0];
    return block[0] == 0;
}

}  // namespace zmrmc
