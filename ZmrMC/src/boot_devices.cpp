#include "boot_devices.h"

#include <algorithm>
#include <cstring>

namespace zmrmc {
namespace {

constexpr uint32_t kBlockSize = 0x10000;
constexpr size_t kEntryStride = 16;   // IPL entries are read 16 bytes apart whatever size the firmware reports
constexpr size_t kPointerOffset = 8;  // far pointer of the description text inside an entry
constexpr size_t kAsciiCheck = 20;    // bytes of a description that must be ASCII

struct DisplayName {
    const char* description;
    const char* name;
};

constexpr DisplayName kDisplayNames[] = {
    {"HDA-L", "Hard Drive (C:)"},     {"HDB-L", "Notebook Slidebay 1"}, {"HDC-L", "Notebook Slidebay 2"},
    {"HDA-E", "Base Left Slidebay"},  {"HDB-E", "Base Right Slidebay"}, {"HDC-E", "Base Upper Right Slidebay"},
    {"Intnl", "Network Controller"},  {"PCI-A", "PCI Slot A"},          {"PCI-B", "PCI Slot B"},
    {"PCI-C", "PCI Slot C"},          {"BAY-C", "Hard Drive (C:)"},     {"BAY-B", "IDE CD-ROM Drive"},
    {"BAY-A", "Notebook Slidebay 1"}, {"USB-CD", "USB CD ROM"},         {"USB-FL", "USB Floppy"},
    {"USB-HD", "USB Hard Drive"},     {"USB-LS", "USB LS-120 Drive"},
};

}  // namespace

std::string BootDeviceDisplayName(const std::string& description) {
    for (const DisplayName& entry : kDisplayNames)
        if (description == entry.description) return entry.name;
    return description;
}

uint32_t DescriptionBlockAddress(uint32_t pointer) {
    uint32_t block;
    if (pointer <= 0x80FFFF)
        block = pointer >> 16;  // a linear address
    else if (pointer < 0x10000000)
        block = 0xF;  // the ROM's F segment
    else if (pointer > 0x1000FFFF)
        block = pointer >> 28;  // segment's top digit
    else
        block = pointer >> 16;
    return block * kBlockSize;
}

std::string BootDevices::ReadDescription(uint32_t pointer) {
    // The text lies in one 64 KB block; it is read in pieces up to its NUL or the block's end.
    uint32_t base = DescriptionBlockAddress(pointer);
    uint32_t offset = pointer & 0xFFFF;
    std::string text;
    while (offset < kBlockSize) {
        char piece[256];
        uint32_t want = std::min<uint32_t>(sizeof piece, kBlockSize - offset);
        uint32_t got = firmware_.ReadPhysical(base + offset, piece, want);
        if (got == 0) return {};
        const void* nul = std::memchr(piece, 0, got);
        if (nul != nullptr) {
            text.append(piece, static_cast<size_t>(static_cast<const char*>(nul) - piece));
            break;
        }
        text.append(piece, got);
        offset += got;
    }
    size_t examined = std::min(text.size(), kAsciiCheck);
    for (size_t i = 0; i < examined; ++i)
        if (static_cast<uint8_t>(text[i]) >= 128) return {};
    return text;
}

bool BootDevices::Load() {
    loaded_ = false;
    count_ = 0;
    priority_.clear();
    names_.clear();
    ZmrMCIplInfo info{};
    int maxCount = 0, entrySize = 0, tableSize = 0;
    if (!firmware_.IplDeviceInfo(&info, &maxCount, &entrySize, &tableSize) || info.count == 0 || tableSize <= 0)
        return false;
    std::vector<uint8_t> buffer(static_cast<size_t>(tableSize), 0);
    if (!firmware_.IplTable(buffer.data(), tableSize, maxCount, entrySize)) return false;

    int count = std::min<int>(info.count, maxCount);
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        uint8_t entry = buffer[static_cast<size_t>(i)];
        std::string name;
        size_t at = static_cast<size_t>(maxCount) + entry * kEntryStride + kPointerOffset;
        if (entry < info.count && at + 4 <= buffer.size()) {
            uint32_t pointer;
            std::memcpy(&pointer, buffer.data() + at, 4);
            name = BootDeviceDisplayName(ReadDescription(pointer));
        }
        names.push_back(std::move(name));
    }
    if (static_cast<int>(names.size()) != info.count) return false;
    count_ = count;
    priority_.assign(buffer.begin(), buffer.begin() + count);
    names_ = std::move(names);
    loaded_ = true;
    return true;
}

bool BootDevices::SetOrder(const std::vector<std::string>& requested) {
    if (!loaded_ && !Load()) return false;
    if (count_ == 0) return false;
    std::vector<std::string> wanted;
    for (const std::string& name : requested)
        if (std::find(wanted.begin(), wanted.end(), name) == wanted.end()) wanted.push_back(name);

    size_t next = 0;
    for (const std::string& name : wanted) {
        auto found = std::find(names_.begin() + static_cast<long>(next), names_.end(), name);
        if (name.empty() || found == names_.end()) continue;
        size_t j = static_cast<size_t>(found - names_.begin());
        std::rotate(names_.begin() + static_cast<long>(next), names_.begin() + static_cast<long>(j),
                    names_.begin() + static_cast<long>(j) + 1);
        std::rotate(priority_.begin() + static_cast<long>(next), priority_.begin() + static_cast<long>(j),
                    priority_.begin() + static_cast<long>(j) + 1);
        ++next;
    }
    return firmware_.SetIplPriority(priority_.data(), count_);
}

}  // namespace zmrmc
