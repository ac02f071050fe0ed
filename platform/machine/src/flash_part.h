// The flash part of the simulated PC: <root>/machine/flash.bin, programmed in place one 4096-byte erase block
// at a time as a real part is, so that a write that stops part-way leaves exactly the blocks written before it.
// The profile's "flash" member may give it faults: a block whose every write fails, a block the firmware keeps
// as it was (its own data), and a power loss after a number of block writes, after which the machine stays
// off (every call fails as one that never reached the firmware).
#pragma once

#include "profile.h"

#include <filesystem>

namespace qv::machine {

constexpr uint32_t kEraseBlock = 4096;

class FlashPart {
public:
    // `state` and `changed` are the transaction's; `file` is flash.bin. All must outlive the part.
    FlashPart(const FlashDef& def, Json& state, const std::filesystem::path& file, bool& changed)
        : def_(def), state_(state), file_(file), changed_(changed) {}

    // The power went during an earlier write and has not come back.
    bool PoweredOff() const { return state_.value("powered_off", false); }

    // Programs `size` bytes at `offset`, block by block, stopping at the first block that fails: 0, the
    // failing block's status, or kFlashSize for a range outside the part. `outcome.reached` turns false when
    // the power goes during the write. With `dryRun` every check runs but no byte changes (an ignored write).
    uint8_t Write(uint32_t offset, const uint8_t* bytes, size_t size, CallOutcome& outcome, bool dryRun = false);
    // Reads `size` bytes at `offset`; false for a range outside the part or a part that cannot be read.
    bool Read(uint32_t offset, uint32_t size, Bytes& out) const;

private:
    const FlashDef& def_;
    Json& state_;
    const std::filesystem::path& file_;
    bool& changed_;
};

}  // namespace qv::machine
