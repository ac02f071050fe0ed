#include "smbios_store.h"

#include "critical_section_lock.h"

#include <algorithm>
#include <cstring>

namespace zmrmc {
namespace {

constexpr uint8_t kEndOfTable = 127;
constexpr uint32_t kScanStart = 0xF0000;
constexpr uint32_t kScanEnd = 0x100000;
constexpr uint32_t kScanBlock = 1024;

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

uint8_t Sum(const uint8_t* bytes, size_t count) {
    uint8_t sum = 0;
    for (size_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    return sum;
}

// Offset just past the structure at `at`, or 0 when it is malformed or runs past the end of the copy.
size_t NextStructure(const std::vector<uint8_t>& table, size_t at) {
    if (table.size() - at < 4) return 0;
    uint8_t length = table[at + 1];
    if (length < 4 || table.size() - at < length) return 0;  // a formatted area holds at least its header
    for (size_t i = at + length; i + 1 < table.size(); ++i)
        if (table[i] == 0 && table[i + 1] == 0) return i + 2;
    return 0;  // the string set never ends inside the copy
}

}  // namespace

bool ValidateSmbiosEntryPoint(const uint8_t* bytes, size_t count, uint32_t address, const PhysicalMemoryRead& read,
                              uint8_t copy[kSmbiosEntryPointCopy]) {
    if (bytes == nullptr || count < 6 || std::memcmp(bytes, "_SM_", 4) != 0) return false;
    size_t length = bytes[5];
    if (length <= 0x1D) return false;
    if (length == 0x1E) length = 0x1F;
    std::vector<uint8_t> whole;
    if (count < length) {
        // The entry point runs past what is at hand: read it whole.
        whole.resize(length);
        if (!read || read(address, whole.data(), static_cast<uint32_t>(length)) != length) return false;
        if (std::memcmp(whole.data(), "_SM_", 4) != 0) return false;
        bytes = whole.data();
    }
    if (Sum(bytes, length) != 0 || std::memcmp(bytes + 0x10, "_DMI_", 5) != 0 || Sum(bytes + 0x10, 15) != 0)
        return false;
    uint32_t structures = U16(bytes + 0x1C);
    uint32_t largest = U16(bytes + 8);
    if (structures * largest < U16(bytes + 0x16)) return false;
    std::memset(copy, 0, kSmbiosEntryPointCopy);
    std::memcpy(copy, bytes, std::min(length, kSmbiosEntryPointCopy));
    return true;
}

std::vector<size_t> IndexSmbiosStructures(const std::vector<uint8_t>& table, size_t limit) {
    std::vector<size_t> index;
    for (size_t at = 0; at < table.size() && index.size() < limit && table[at] != kEndOfTable;) {
        size_t next = NextStructure(table, at);
        if (next == 0) break;
        index.push_back(at);
        at = next;
    }
    return index;
}

SmbiosStore::SmbiosStore(SmbiosInstrumentationSource instrumentation, PhysicalMemoryRead read)
    : instrumentation_(std::move(instrumentation)), read_(std::move(read)) {
    InitializeCriticalSection(&lock_);
}

SmbiosStore::~SmbiosStore() { DeleteCriticalSection(&lock_); }

bool SmbiosStore::Available() {
    CriticalSectionLock hold(&lock_);
    if (state_ == State::kNotObtained) ObtainLocked();
    return state_ == State::kLoaded;
}

bool SmbiosStore::VersionAtLeast(int major, int minor) {
    if (!Available()) return false;
    return major < entry_[6] || (major == entry_[6] && entry_[7] >= minor);
}

void SmbiosStore::ObtainLocked() {
    table_.clear();
    index_.clear();
    if (FromInstrumentation() || FromPhysicalMemory()) {
        state_ = State::kLoaded;
    } else {
        table_.clear();
        index_.clear();
        state_ = State::kFailed;
    }
}

bool SmbiosStore::FromInstrumentation() {
    RawSmbiosTables tables;
    if (!instrumentation_ || !instrumentation_(&tables) || tables.data.empty()) return false;
    if (tables.data.size() > 0xFFFF) tables.data.resize(0xFFFF);  // the entry point's length field is 16-bit
    entry_[6] = tables.major;
    entry_[7] = tables.minor;
    entry_[0x16] = static_cast<uint8_t>(tables.data.size());
    entry_[0x17] = static_cast<uint8_t>(tables.data.size() >> 8);
    table_ = std::move(tables.data);
    index_ = IndexSmbiosStructures(table_);
    return true;
}

bool SmbiosStore::FromPhysicalMemory() {
    if (!read_) return false;
    uint8_t found[kSmbiosEntryPointCopy];
    bool valid = false;
    if (entry_address_ != 0) {
        uint8_t again[256];
        uint32_t want = std::max<uint32_t>(entry_[5], kSmbiosEntryPointCopy);
        valid = read_(entry_address_, again, want) == want &&
                ValidateSmbiosEntryPoint(again, want, entry_address_, read_, found);
        if (!valid) entry_address_ = 0;
    }
    for (uint32_t block = kScanStart; !valid && block < kScanEnd; block += kScanBlock) {
        uint8_t bytes[kScanBlock];
        uint32_t got = read_(block, bytes, kScanBlock);
        if (got == 0 || got > kScanBlock) continue;
        for (uint32_t at = 0; at + 4 <= got; at += 16) {
            if (std::memcmp(bytes + at, "_SM_", 4) != 0) continue;
            if (ValidateSmbiosEntryPoint(bytes + at, got - at, block + at, read_, found)) {
                entry_address_ = block + at;
                valid = true;
                break;
            }
        }
    }
    if (!valid) return false;
    std::memcpy(entry_, found, sizeof entry_);
    uint16_t length = U16(entry_ + 0x16);
    uint32_t address = U32(entry_ + 0x18);
    uint16_t count = U16(entry_ + 0x1C);
    if (length == 0 || address == 0 || count == 0) return false;
    table_.assign(length, 0);
    if (read_(address, table_.data(), length) != length) return false;
    index_ = IndexSmbiosStructures(table_, count);
    return true;
}

bool SmbiosStore::Find(uint8_t type, int n, Structure* structure) const {
    if (state_ != State::kLoaded || structure == nullptr || n < 0) return false;
    for (size_t at : index_) {
        if (table_[at] != type || n-- > 0) continue;
        structure->offset = at;
        structure->type = type;
        structure->length = table_[at + 1];
        return true;
    }
    return false;
}

uint8_t SmbiosStore::Byte(const Structure& structure, size_t offset) const {
    if (offset >= structure.length || structure.offset + offset >= table_.size()) return 0;
    return table_[structure.offset + offset];
}

std::string SmbiosStore::String(const Structure& structure, uint8_t index) const {
    if (index == 0) return "";
    size_t at = structure.offset + structure.length;
    // Walk the string set; it ends at an empty string (two zero bytes) or at the end of the copy.
    for (uint8_t number = 1; at < table_.size() && table_[at] != 0; ++number) {
        size_t end = at;
        while (end < table_.size() && table_[end] != 0) ++end;
        if (number == index) return std::string(reinterpret_cast<const char*>(&table_[at]), end - at);
        at = end + 1;
    }
    return "";
}

std::string SmbiosStore::StringAt(const Structure& structure, size_t offset) const {
    std::string text = String(structure, Byte(structure, offset));
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

void SmbiosStore::Discard() {
    CriticalSectionLock hold(&lock_);
    table_.clear();
    table_.shrink_to_fit();
    index_.clear();
    std::memset(entry_, 0, sizeof entry_);
    state_ = State::kNotObtained;
}

bool SmbiosUse::Acquire() {
    if (count_ == 0) {
        CriticalSectionLock hold(&store_.lock_);
        if (store_.state_ == SmbiosStore::State::kNotObtained) store_.ObtainLocked();
        // Only a use that holds the table counts as a user, so a failed acquire leaves nothing behind.
        if (store_.state_ != SmbiosStore::State::kLoaded) return false;
        ++store_.users_;
    }
    ++count_;
    return true;
}

void SmbiosUse::Release() {
    if (count_ == 0) return;
    if (--count_ == 0) {
        CriticalSectionLock hold(&store_.lock_);
        --store_.users_;
    }
}

}  // namespace zmrmc
