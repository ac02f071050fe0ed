#include "conventional_memory.h"

#include <cstring>

namespace zmrdtct {

bool ConventionalMemory::Read(uint32_t linear, void* out, size_t size) {
    if (linear > kSize || size > kSize - linear) return false;
    if (size == 0) return true;
    std::memcpy(out, bytes_.data() + linear, size);
    return true;
}

bool ConventionalMemory::Write(uint32_t linear, const void* in, size_t size) {
    if (linear > kSize || size > kSize - linear) return false;
    if (size == 0) return true;
    std::memcpy(bytes_.data() + linear, in, size);
    return true;
}

uint16_t ConventionalMemory::Grant(uint64_t caller, uint32_t linear, uint32_t length, uint16_t wanted) {
    if (length == 0 || length > 0x10000 || (wanted != 0 && wanted < kFirstSegment)) return 0;
    uint32_t paragraphs = (length + 15) / 16;
    uint32_t at = wanted != 0 ? wanted : kFirstSegment;
    for (const auto& [segment, block] : blocks_) {
        uint32_t end = segment + (block.length + 15) / 16;
        if (segment >= at + paragraphs) break;
        if (end <= at) continue;
        if (wanted != 0) return 0;  // taken
        at = end;
    }
    if ((at + paragraphs) * 16 > kSize) return 0;
    blocks_[static_cast<uint16_t>(at)] = {caller, linear, length};
    std::memset(bytes_.data() + at * 16, 0, paragraphs * 16);
    return static_cast<uint16_t>(at);
}

bool ConventionalMemory::Release(uint64_t caller, uint16_t segment) {
    auto it = blocks_.find(segment);
    if (it == blocks_.end() || it->second.caller != caller) return false;
    blocks_.erase(it);
    return true;
}

void ConventionalMemory::ReleaseAll(uint64_t caller) {
    for (auto it = blocks_.begin(); it != blocks_.end();)
        it = it->second.caller == caller ? blocks_.erase(it) : std::next(it);
}

void ConventionalMemory::SyncIn(qv::win::DeviceCaller& caller) {
    for (const auto& [segment, block] : blocks_)
        if (block.caller == caller.Id()) caller.Read(block.linear, bytes_.data() + segment * 16u, block.length);
}

void ConventionalMemory::SyncOut(qv::win::DeviceCaller& caller) {
    for (const auto& [segment, block] : blocks_)
        if (block.caller == caller.Id()) caller.Write(block.linear, bytes_.data() + segment * 16u, block.length);
}

uint32_t ConventionalMemory::BlockLength(uint64_t caller, uint16_t segment) const {
    auto it = blocks_.find(segment);
    return it == blocks_.end() || it->second.caller != caller ? 0 : it->second.length;
}

}  // namespace zmrdtct
