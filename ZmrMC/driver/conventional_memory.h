// Conventional memory of the driver: the real-mode megabyte's first 640 KB, where firmware calls find their
// data blocks. Blocks are granted per caller (an open handle) with the caller's linear address of the data they
// mirror; before a real-mode call the caller's data is copied into its blocks and afterwards back out.
#pragma once

#include "qv_device_server.h"
#include "qv_machine.h"

#include <cstdint>
#include <map>
#include <vector>

namespace zmrdtct {

class ConventionalMemory final : public qv::machine::RealModeMemory {
public:
    static constexpr uint32_t kSize = 0xA0000;
    static constexpr uint16_t kFirstSegment = 0x1000;  // blocks are granted from 64 KB on

    ConventionalMemory() : bytes_(kSize, 0) {}

    bool Read(uint32_t linear, void* out, size_t size) override;
    bool Write(uint32_t linear, const void* in, size_t size) override;

    // A block of `length` bytes mirroring the caller's data at `linear`; its segment, or 0 when none is free.
    // With `wanted`, the block starts exactly at that segment or is not granted (a caller restoring the blocks
    // a driver that went away had granted it, under the segments it still holds).
    uint16_t Grant(uint64_t caller, uint32_t linear, uint32_t length, uint16_t wanted = 0);
    bool Release(uint64_t caller, uint16_t segment);
    void ReleaseAll(uint64_t caller);
    // The caller's data into its blocks, and back (addresses the caller cannot share are skipped).
    void SyncIn(qv::win::DeviceCaller& caller);
    void SyncOut(qv::win::DeviceCaller& caller);
    // The block that starts at this segment and belongs to the caller: its length, 0 when none.
    uint32_t BlockLength(uint64_t caller, uint16_t segment) const;

private:
    struct Block {
        uint64_t caller;
        uint32_t linear;
        uint32_t length;
    };
    std::vector<uint8_t> bytes_;
    std::map<uint16_t, Block> blocks_;  // by segment
};

}  // namespace zmrdtct
