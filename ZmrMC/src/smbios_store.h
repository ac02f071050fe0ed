// The SMBIOS structure table: obtained once per process from the operating system's instrumentation or, when
// that fails, from physical memory (the 2.x "_SM_" entry point in 0xF0000-0xFFFFF); indexed by structure.
//
// Every read of table bytes is bounds-checked against the copy: lengths pointing past the end, missing
// string-set terminators and counts that lie end the walk instead of reading outside the copy.
#pragma once

#include "windows.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zmrmc {

// Reads physical memory; returns the number of bytes read, 0 on failure.
using PhysicalMemoryRead = std::function<uint32_t(uint32_t address, void* buffer, uint32_t length)>;

// What the instrumentation's raw SMBIOS class delivers.
struct RawSmbiosTables {
    uint8_t major = 0;
    uint8_t minor = 0;
    std::vector<uint8_t> data;
};
// Fills `tables` from the instrumentation; false when the source is unavailable or returned nothing.
using SmbiosInstrumentationSource = std::function<bool(RawSmbiosTables* tables)>;

constexpr size_t kSmbiosEntryPointCopy = 31;

// Validates the entry point at `bytes` (`count` bytes at hand, found at physical `address`). When fewer bytes
// are at hand than the entry point's length, the whole entry point is read again through `read`. On success
// the first min(length, 31) bytes go to `copy` (zero-filled first).
bool ValidateSmbiosEntryPoint(const uint8_t* bytes, size_t count, uint32_t address, const PhysicalMemoryRead& read,
                              uint8_t copy[kSmbiosEntryPointCopy]);

// Starts of the structures of a table copy, in order, up to the end marker (type 127), the end of the copy,
// a malformed structure, or `limit` entries.
std::vector<size_t> IndexSmbiosStructures(const std::vector<uint8_t>& table, size_t limit = SIZE_MAX);

class SmbiosStore {
public:
    SmbiosStore(SmbiosInstrumentationSource instrumentation, PhysicalMemoryRead read);
    ~SmbiosStore();
    SmbiosStore(const SmbiosStore&) = delete;
    SmbiosStore& operator=(const SmbiosStore&) = delete;

    // Obtain the table when not tried yet; true when it is loaded.
    bool Available();
    bool VersionAtLeast(int major, int minor);

    // A loaded table's structures. Callers hold an SmbiosUse while they use them.
    struct Structure {
        size_t offset = 0;  // in the copy
        uint8_t type = 0;
        uint8_t length = 0;  // of the formatted area
    };
    // The n-th structure (from 0) of the type, in table order; false when there is none.
    bool Find(uint8_t type, int n, Structure* structure) const;
    // A byte of the formatted area; 0 when the offset lies beyond the formatted area.
    uint8_t Byte(const Structure& structure, size_t offset) const;
    // The index-th string (from 1) of the structure's string set; "" for 0 or an index past the set.
    std::string String(const Structure& structure, uint8_t index) const;
    // The string whose number is the byte at `offset` of the formatted area, trimmed of white space.
    std::string StringAt(const Structure& structure, size_t offset) const;

    // Frees the copy and returns to "not obtained".
    void Discard();

    // The entry point as kept (31 bytes; zero when none) and the address it was found at.
    const uint8_t* EntryPoint() const { return entry_; }
    uint32_t EntryPointAddress() const { return entry_address_; }

private:
    friend class SmbiosUse;
    enum class State { kNotObtained, kFailed, kLoaded };
    void ObtainLocked();
    bool FromInstrumentation();
    bool FromPhysicalMemory();

    SmbiosInstrumentationSource instrumentation_;
    PhysicalMemoryRead read_;
    CRITICAL_SECTION lock_;
    State state_ = State::kNotObtained;
    uint8_t entry_[kSmbiosEntryPointCopy] = {};
    uint32_t entry_address_ = 0;
    std::vector<uint8_t> table_;
    std::vector<size_t> index_;
    LONG users_ = 0;
};

// One operation's hold on the table: while it holds a use, the copy is not discarded under it.
class SmbiosUse {
public:
    explicit SmbiosUse(SmbiosStore& store) : store_(store) {}
    ~SmbiosUse() { Release(); }
    SmbiosUse(const SmbiosUse&) = delete;
    SmbiosUse& operator=(const SmbiosUse&) = delete;

    // Obtains the table when needed; true when it is loaded (this use then counts once more).
    bool Acquire();
    void Release();

private:
    SmbiosStore& store_;
    LONG count_ = 0;
};

}  // namespace zmrmc
