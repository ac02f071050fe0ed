#include "ipl_calls.h"

#include <cstring>
#include <initializer_list>
#include <vector>

namespace zmrmc {
namespace {

constexpr uint16_t kGetVersion = 0x60, kGetCount = 0x61, kGetTable = 0x62, kSetPriority = 0x63;

// One Plug and Play call whose pointer parameters are the given offsets into `area` (its bytes go in and come
// back through the conventional-memory block). True when the firmware answered 0.
bool PnpCall(DriverTransport& transport, uint16_t function, SharedBuffer& area, uint32_t areaSize,
             std::initializer_list<uint16_t> offsets) {
    if (!transport.IsOpen() || !area.ok()) return false;
    uint16_t segment = transport.GrantMemory(area.Address(), areaSize);
    if (segment == 0) return false;
    std::vector<uint16_t> words{function};
    for (uint16_t offset : offsets) {
        words.push_back(offset);
        words.push_back(segment);
    }
    uint32_t bytes = static_cast<uint32_t>(words.size() * 2);
    bool ok = transport.Request(kIoctlPnpBios, words.data(), bytes, words.data(), bytes, nullptr);
    transport.ReleaseMemory(segment);
    return ok && words[0] == 0;
}

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

bool IplDeviceInfo(DriverTransport& transport, ZmrMCIplInfo* info, int* maxCount, int* entrySize, int* tableSize) {
    if (info != nullptr) *info = ZmrMCIplInfo{};
    for (int* out : {maxCount, entrySize, tableSize})
        if (out != nullptr) *out = 0;
    SharedBuffer area(6);
    if (!PnpCall(transport, kGetVersion, area, 2, {0})) return false;
    uint16_t version = Get16(area.data());
    if (version != 0x0100 && version != 0x0101) return false;
    std::memset(area.data(), 0, 6);
    if (!PnpCall(transport, kGetCount, area, 6, {0, 2, 4})) return false;
    uint16_t count = Get16(area.data()), max = Get16(area.data() + 2), size = Get16(area.data() + 4);
    if (info != nullptr) *info = ZmrMCIplInfo{version, count, max, size};
    if (maxCount != nullptr) *maxCount = max;
    if (entrySize != nullptr) *entrySize = size;
    if (tableSize != nullptr) *tableSize = (size + 1) * max;
    return true;
}

bool IplTable(DriverTransport& transport, unsigned char* buffer, int length, int maxCount, int entrySize) {
    if (buffer == nullptr || length <= 0 || maxCount < 0 || entrySize < 0 ||
        static_cast<long long>(length) < static_cast<long long>(maxCount) * (entrySize + 1) || maxCount > 0xFFFF)
        return false;
    std::memset(buffer, 0, static_cast<size_t>(length));
    uint32_t size = static_cast<uint32_t>(length);
    SharedBuffer area(size);
    if (!PnpCall(transport, kGetTable, area, size, {0, static_cast<uint16_t>(maxCount)})) return false;
    std::memcpy(buffer, area.data(), size);
    return true;
}

bool SetIplPriority(DriverTransport& transport, const unsigned char* priority, int count) {
    if (priority == nullptr || count <= 0 || count > 0xFFFF) return false;
    uint32_t size = static_cast<uint32_t>(count);
    SharedBuffer area(size);
    if (!area.ok()) return false;
    std::memcpy(area.data(), priority, size);
    return PnpCall(transport, kSetPriority, area, size, {0});
}

}  // namespace zmrmc
