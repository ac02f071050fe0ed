#include "smbios_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// One structure: formatted area (type, length, handle, fields) and its string set.
Bytes Structure(uint8_t type, const Bytes& fields, const std::vector<std::string>& strings) {
    Bytes s;
    s.push_back(type);
    s.push_back(static_cast<uint8_t>(4 + fields.size()));
    s.push_back(0x00);
    s.push_back(0x01);
    for (uint8_t b : fields) s.push_back(b);
    for (const auto& text : strings) {
        for (char c : text) s.push_back(static_cast<uint8_t>(c));
        s.push_back(0);
    }
    if (strings.empty()) s.push_back(0);
    s.push_back(0);
    return s;
}

void Append(Bytes& to, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) to.push_back(b);
}

Bytes Table() {
    Bytes t;
    for (const Bytes& s : {Structure(0, {1, 2, 0, 0, 3}, {"Maker", " 1.02.3 ", "01/02/2026"}),
                           Structure(1, {1, 2, 3, 4}, {"QV Computers", "Desk 800", "v2", "SN123"}),
                           Structure(3, {1, 0x09, 0, 0, 2}, {"QV Computers", "ASSET-7"}), Structure(127, {}, {})})
        for (uint8_t b : s) t.push_back(b);
    return t;
}

// A 2.x entry point for a table of `length` bytes and `count` structures at `address`.
Bytes EntryPoint(uint16_t length, uint32_t address, uint16_t count, uint8_t length_byte = 0x1F) {
    Bytes e(0x1F, 0);
    std::memcpy(e.data(), "_SM_", 4);
    e[5] = length_byte;
    e[6] = 2;
    e[7] = 4;
    e[8] = 0x80;  // largest structure
    std::memcpy(e.data() + 0x10, "_DMI_", 5);
    e[0x16] = static_cast<uint8_t>(length);
    e[0x17] = static_cast<uint8_t>(length >> 8);
    std::memcpy(e.data() + 0x18, &address, 4);
    e[0x1C] = static_cast<uint8_t>(count);
    e[0x1D] = static_cast<uint8_t>(count >> 8);
    uint8_t sum = 0;
    for (int i = 0x10; i < 0x1F; ++i) sum = static_cast<uint8_t>(sum + e[i]);
    e[0x15] = static_cast<uint8_t>(-sum);
    sum = 0;
    for (int i = 0; i < 0x1F; ++i) sum = static_cast<uint8_t>(sum + e[i]);
    e[4] = static_cast<uint8_t>(-sum);
    return e;
}

// Physical memory holding byte ranges; reads count how often the firmware area is touched.
struct PhysicalMemory {
    std::map<uint32_t, uint8_t> bytes;
    int reads = 0;
    void Put(uint32_t address, const Bytes& data) {
        for (size_t i = 0; i < data.size(); ++i) bytes[address + static_cast<uint32_t>(i)] = data[i];
    }
    zmrmc::PhysicalMemoryRead Reader() {
        return [this](uint32_t address, void* buffer, uint32_t length) -> uint32_t {
            ++reads;
            auto* out = static_cast<uint8_t*>(buffer);
            for (uint32_t i = 0; i < length; ++i) {
                auto it = bytes.find(address + i);
                out[i] = it != bytes.end() ? it->second : 0;
            }
            return length;
        };
    }
};

constexpr uint32_t kTableAddress = 0x000E0000;

TEST(SmbiosEntryPoint, LengthByte30CountsAs31) {
    Bytes e = EntryPoint(100, kTableAddress, 4, 0x1E);
    uint8_t copy[zmrmc::kSmbiosEntryPointCopy];
    EXPECT_TRUE(zmrmc::ValidateSmbiosEntryPoint(e.data(), e.size(), 0xF0000, nullptr, copy));
    EXPECT_EQ(std::memcmp(copy, e.data(), 31), 0);
}

TEST(SmbiosEntryPoint, RefusesBadAnchorsChecksumsLengthsAndCounts) {
    uint8_t copy[zmrmc::kSmbiosEntryPointCopy];
    Bytes good = EntryPoint(100, kTableAddress, 4);
    auto refused = [&](Bytes e) { return !zmrmc::ValidateSmbiosEntryPoint(e.data(), e.size(), 0, nullptr, copy); };
    Bytes bad = good;
    bad[0x10] = 'X';
    EXPECT_TRUE(refused(bad));
    bad = good;
    bad[4] ^= 1;  // checksum
    EXPECT_TRUE(refused(bad));
    EXPECT_TRUE(refused(EntryPoint(100, kTableAddress, 4, 0x1D)));
    EXPECT_TRUE(refused(EntryPoint(0x8000, kTableAddress, 4)));  // 4 structures of 0x80 bytes cannot hold it
    EXPECT_TRUE(refused(Bytes(good.begin(), good.begin() + 5)));
}

TEST(SmbiosStore, InstrumentationSourceComesFirst) {
    int physical_reads = 0;
    zmrmc::SmbiosStore store(
        [](zmrmc::RawSmbiosTables* t) {
            t->major = 2;
            t->minor = 7;
            t->data = Table();
            return true;
        },
        [&](uint32_t, void*, uint32_t) -> uint32_t { return ++physical_reads, 0; });
    ASSERT_TRUE(store.Available());
    EXPECT_EQ(physical_reads, 0);
    EXPECT_TRUE(store.VersionAtLeast(2, 7));
    EXPECT_TRUE(store.VersionAtLeast(1, 9));
    EXPECT_FALSE(store.VersionAtLeast(2, 8));
    zmrmc::SmbiosStore::Structure bios, system, chassis;
    ASSERT_TRUE(store.Find(0, 0, &bios));
    EXPECT_EQ(store.StringAt(bios, 5), "1.02.3");  // trimmed
    EXPECT_EQ(store.StringAt(bios, 8), "01/02/2026");
    ASSERT_TRUE(store.Find(1, 0, &system));
    EXPECT_EQ(store.StringAt(system, 4), "QV Computers");
    EXPECT_EQ(store.StringAt(system, 7), "SN123");
    ASSERT_TRUE(store.Find(3, 0, &chassis));
    EXPECT_EQ(store.Byte(chassis, 5) & 0x7F, 9);
    EXPECT_EQ(store.StringAt(chassis, 8), "ASSET-7");
    EXPECT_FALSE(store.Find(1, 1, &system));
    EXPECT_FALSE(store.Find(127, 0, &system));  // the end marker is not indexed
}

TEST(SmbiosStore, StringNumbersZeroOrPastTheSetGiveEmptyText) {
    zmrmc::SmbiosStore store([](zmrmc::RawSmbiosTables* t) { return t->data = Table(), true; }, nullptr);
    zmrmc::SmbiosUse use(store);
    ASSERT_TRUE(use.Acquire());
    zmrmc::SmbiosStore::Structure system;
    ASSERT_TRUE(store.Find(1, 0, &system));
    EXPECT_EQ(store.String(system, 0), "");
    EXPECT_EQ(store.String(system, 5), "");
    EXPECT_EQ(store.Byte(system, 200), 0);  // beyond the formatted area
}

TEST(SmbiosStore, ScansPhysicalMemoryWhenTheInstrumentationFails) {
    PhysicalMemory memory;
    Bytes table = Table();
    memory.Put(kTableAddress, table);
    Bytes damaged = EntryPoint(static_cast<uint16_t>(table.size()), kTableAddress, 3);
    damaged[0x12] ^= 0xFF;  // breaks the "_DMI_" part: the scan goes on at the next boundary
    memory.Put(0xF0400, damaged);
    // The valid one starts 16 bytes before a block end, so it is read again whole.
    memory.Put(0xF07F0, EntryPoint(static_cast<uint16_t>(table.size()), kTableAddress, 3));
    zmrmc::SmbiosStore store([](zmrmc::RawSmbiosTables*) { return false; }, memory.Reader());
    ASSERT_TRUE(store.Available());
    EXPECT_EQ(store.EntryPointAddress(), 0xF07F0u);
    zmrmc::SmbiosStore::Structure chassis;
    EXPECT_TRUE(store.Find(3, 0, &chassis));
    EXPECT_TRUE(store.VersionAtLeast(2, 4));
}

TEST(SmbiosStore, IndexesNoMoreThanTheCountAndStopsAtTheEndMarker) {
    Bytes table = Table();
    EXPECT_EQ(zmrmc::IndexSmbiosStructures(table).size(), 3u);
    EXPECT_EQ(zmrmc::IndexSmbiosStructures(table, 2).size(), 2u);
    PhysicalMemory memory;
    memory.Put(kTableAddress, table);
    memory.Put(0xF0000, EntryPoint(static_cast<uint16_t>(table.size()), kTableAddress, 9));  // count lies
    zmrmc::SmbiosStore store(nullptr, memory.Reader());
    ASSERT_TRUE(store.Available());
    zmrmc::SmbiosStore::Structure s;
    EXPECT_TRUE(store.Find(3, 0, &s));
    EXPECT_FALSE(store.Find(127, 0, &s));
}

// Damaged tables end the walk; nothing is read outside the copy (AddressSanitizer watches the vectors).
TEST(SmbiosStore, DamagedTablesAreWalkedSafely) {
    Bytes runs_past = Structure(1, {1, 2}, {"a"});
    runs_past[1] = 200;
    EXPECT_TRUE(zmrmc::IndexSmbiosStructures(runs_past).empty());
    Bytes unterminated = {1, 5, 0, 0, 1, 'a', 'b'};
    EXPECT_TRUE(zmrmc::IndexSmbiosStructures(unterminated).empty());
    Bytes short_header = {1, 2, 0, 0, 0, 0};
    EXPECT_TRUE(zmrmc::IndexSmbiosStructures(short_header).empty());
    Bytes good_then_bad = Structure(0, {1}, {"x"});
    Append(good_then_bad, {2, 9, 0});
    EXPECT_EQ(zmrmc::IndexSmbiosStructures(good_then_bad).size(), 1u);

    Bytes last_string_unterminated = Structure(1, {1}, {});
    last_string_unterminated.pop_back();
    last_string_unterminated.pop_back();
    Append(last_string_unterminated, {'a', 'b', 0, 0});
    zmrmc::SmbiosStore store([&](zmrmc::RawSmbiosTables* t) { return t->data = last_string_unterminated, true; },
                             nullptr);
    ASSERT_TRUE(store.Available());
    zmrmc::SmbiosStore::Structure s;
    ASSERT_TRUE(store.Find(1, 0, &s));
    EXPECT_EQ(store.StringAt(s, 4), "ab");
}

TEST(SmbiosStore, AFailedObtainIsFinalUntilDiscarded) {
    int attempts = 0;
    zmrmc::SmbiosStore store([&](zmrmc::RawSmbiosTables*) { return ++attempts, false; }, nullptr);
    EXPECT_FALSE(store.Available());
    EXPECT_FALSE(store.Available());
    EXPECT_EQ(attempts, 1);
    zmrmc::SmbiosUse use(store);
    EXPECT_FALSE(use.Acquire());
    store.Discard();
    EXPECT_FALSE(store.Available());
    EXPECT_EQ(attempts, 2);
}

TEST(SmbiosStore, UsesCountAndRelease) {
    zmrmc::SmbiosStore store([](zmrmc::RawSmbiosTables* t) { return t->data = Table(), true; }, nullptr);
    {
        zmrmc::SmbiosUse use(store);
        EXPECT_TRUE(use.Acquire());
        EXPECT_TRUE(use.Acquire());
        use.Release();
        zmrmc::SmbiosStore::Structure s;
        EXPECT_TRUE(store.Find(0, 0, &s));
    }  // the destructor releases the rest
    store.Discard();
    zmrmc::SmbiosStore::Structure s;
    EXPECT_FALSE(store.Find(0, 0, &s));
    EXPECT_TRUE(store.Available());  // obtained again after a discard
}

}  // namespace
