// What the simulated firmware answers: system objects and their locking, INT 15h functions, Plug and Play and
// PCI BIOS, the flash part and injected faults.

#include "machine_fixture.h"

#include <set>

using qv::machine::Bytes;
using qv::machine::CallOutcome;
using qv::machine::Firmware;
using qv::machine::Registers;

namespace {

uint16_t U16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }

// A 32-bit INT 15h call with a data area.
Registers Call32(Firmware& f, uint32_t eax, uint32_t ebx, uint32_t ecx, Bytes* data) {
    FlatMemory memory;
    Registers r;
    r.eax = eax;
    r.ebx = ebx;
    r.ecx = ecx;
    f.Int15(r, data, memory, true);
    return r;
}

uint8_t Ah(const Registers& r) { return static_cast<uint8_t>(r.eax >> 8); }

// The object index of the first object named `name` (desktop: two string tables come first).
uint16_t FindObject(Firmware& f, const char* name) {
    CallOutcome o;
    Bytes english;
    f.ObjectValue(1, english, o);
    std::vector<std::string> texts;
    for (size_t at = 2; at + 1 < english.size() && !(english[at] == 0xFF && english[at + 1] == 0xFF);) {
        std::string t(reinterpret_cast<const char*>(english.data() + at));
        texts.push_back(t);
        at += t.size() + 1;
    }
    uint16_t id = static_cast<uint16_t>(std::find(texts.begin(), texts.end(), name) - texts.begin());
    Bytes list;
    f.ObjectList(list, o);
    for (uint16_t i = 0; i < U16(list, 0); ++i) {
        Bytes value;
        f.ObjectValue(i, value, o);
        if (U16(list, 4 + 8 * i + 2) != 5 && U16(value, 0) == id) return i;
    }
    return 0xFFFF;
}

}  // namespace

TEST_F(MachineTest, DesktopListsObjectsOfEveryTypeWithTwoStringTables) {
    Use("desktop")->Transact([](Firmware& f) {
        CallOutcome o;
        uint32_t size = 0;
        ASSERT_EQ(f.ObjectListSize(size, o), 0);
        Bytes list;
        ASSERT_EQ(f.ObjectList(list, o), 0);
        ASSERT_EQ(list.size(), size);
        std::set<uint16_t> types;
        for (uint16_t i = 0; i < U16(list, 0); ++i) types.insert(U16(list, 4 + 8 * i + 2));
        for (uint16_t t = 0; t <= 10; ++t) EXPECT_TRUE(types.count(t)) << "type " << t;
        Bytes first, info;
        f.ObjectValue(0, first, o);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(first.data() + 2)), "Deutsch");
        EXPECT_EQ(f.ObjectInfo(0, info, o), 0);
        EXPECT_EQ(info.size(), 20u);
        EXPECT_NE(FindObject(f, "--"), 0xFFFF);
        EXPECT_EQ(f.ObjectInfo(static_cast<uint16_t>(U16(list, 0)), info, o), 0x80);  // past the end
    });
}

TEST_F(MachineTest, SetupPasswordLocksObjectWritesUntilUnlocked) {
    Use("desktop")->Transact([](Firmware& f) {
        CallOutcome o;
        uint16_t numLock = FindObject(f, "Num Lock State at Power-On");
        ASSERT_NE(numLock, 0xFFFF);
        Bytes value;
        f.ObjectValue(numLock, value, o);
        value[2] = 1;  // "On"
        // Set the setup password "ab" (scan codes 1E 30) through E845h/11h: old, 35h, new, NUL.
        Bytes change = {0x35, 0x1E, 0x30, 0};
        EXPECT_EQ(Ah(Call32(f, 0xE845, 1, 0x11, &change)), 0);
        uint32_t set = 0;
        f.SetupPasswordState(set, o);
        EXPECT_EQ(set, 1u);
        EXPECT_EQ(f.SetObjectValue(numLock, value, o), 0x85);        // locked
        EXPECT_EQ(f.ChangeLockState(false, {0x1E, 0x31}, o), 0x87);  // wrong password
        EXPECT_EQ(f.ChangeLockState(false, {0x1E, 0x30, 0}, o), 0);  // NUL-terminated copy
        EXPECT_EQ(f.SetObjectValue(numLock, value, o), 0);
        Bytes back;
        f.ObjectValue(numLock, back, o);
        EXPECT_EQ(back[2], 1);
        EXPECT_EQ(f.ChangeLockState(true, {0x1E, 0x30}, o), 0);
        EXPECT_EQ(f.SetObjectValue(numLock, value, o), 0x85);
        // The E845h change needs the old password in front of the separator.
        Bytes wrong = {0x1F, 0x35, 0x20, 0};
        EXPECT_EQ(Ah(Call32(f, 0xE845, 1, 0x11, &wrong)), 0x87);
    });
}

TEST_F(MachineTest, ObjectWritesAreValidated) {
    Use("desktop")->Transact([](Firmware& f) {
        CallOutcome o;
        struct Case {
            const char* name;
            size_t offset;
            uint8_t byte;
            uint8_t status;
        } cases[] = {
            {"Num Lock State at Power-On", 2, 9, 0x89},  // index beyond the choices
            {"POST Delay (in seconds)", 10, 61, 0x89},   // above the upper bound
            {"POST Delay (in seconds)", 10, 60, 0},
            {"ROM Revision", 2, 'X', 0x86},    // read-only
            {"Setup Password", 2, 'X', 0x86},  // passwords change through their own calls
            {"SATA Port", 4, 0x00, 0x89},      // instance key does not match
            {"Boot Order", 2, 0x00, 0x89},     // not a permutation of the items
        };
        for (const auto& c : cases) {
            uint16_t index = FindObject(f, c.name);
            ASSERT_NE(index, 0xFFFF) << c.name;
            Bytes value;
            f.ObjectValue(index, value, o);
            value[c.offset] = c.byte;
            EXPECT_EQ(f.SetObjectValue(index, value, o), c.status) << c.name;
        }
        uint16_t any = FindObject(f, "MultiBoot");
        Bytes value;
        f.ObjectValue(any, value, o);
        value[0] ^= 1;  // a name ID that is not the object's
        EXPECT_EQ(f.SetObjectValue(any, value, o), 0x89);
    });
}

TEST_F(MachineTest, LegacyFirmwareAnswersOnlyInt15) {
    Use("laptop-legacy")->Transact([](Firmware& f) {
        CallOutcome o;
        uint32_t size = 0;
        EXPECT_NE(f.ObjectListSize(size, o), 0);
        FlatMemory memory;
        // TouchPad and PointingStick share sub-function 61h: BH = 3.
        Registers r;
        r.eax = 0xE845;
        r.ecx = 0x61;
        f.Int15(r, nullptr, memory, false);
        EXPECT_EQ(r.eflags & 1, 0u);
        EXPECT_EQ((r.ebx >> 8) & 0xFF, 3u);
        // Asset tag through a 16-bit call: a length byte and the text at segment:DI.
        r = {};
        r.eax = 0xE845;
        r.ecx = 0x25;
        r.segments = 0x2000;
        f.Int15(r, nullptr, memory, false);
        EXPECT_EQ(memory.bytes[0x20000], 7);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(&memory.bytes[0x20001]), 7), "NB-0042");
        // Secure interface query: power-on feature and long passwords, security bits supported.
        r = {};
        r.eax = 0xE842;
        f.Int15(r, nullptr, memory, false);
        EXPECT_EQ(r.edx & 0x120, 0x120u);
        EXPECT_EQ(r.ecx & 0x71800, 0x71800u);
        // Unknown sub-function: AH 86h with carry.
        r = {};
        r.eax = 0xE845;
        r.ecx = 0x99;
        f.Int15(r, nullptr, memory, false);
        EXPECT_EQ(Ah(r), 0x86);
        EXPECT_EQ(r.eflags & 1, 1u);
    });
}

TEST_F(MachineTest, SecureInterfaceSetsAndVerifiesPasswords) {
    Use("laptop-legacy")->Transact([](Firmware& f) {
        FlatMemory memory;
        auto secure = [&](uint16_t op, const Bytes& first, const Bytes& second) {
            std::fill(memory.bytes.begin() + 0x30000, memory.bytes.begin() + 0x30000 + 66, 0);
            std::copy(first.begin(), first.end(), memory.bytes.begin() + 0x30000);
            std::copy(second.begin(), second.end(), memory.bytes.begin() + 0x30000 + 33);
            Registers r;
            r.eax = 0xE842 | (static_cast<uint32_t>(op) << 16);
            r.edx = 0x53454355;
            r.esi = 33;
            r.segments = 0x3000 | (0x3000u << 16);
            f.Int15(r, nullptr, memory, false);
            return Ah(r);
        };
        EXPECT_EQ(secure(6, {0x10, 0x11}, {}), 0);  // set power-on password
        EXPECT_EQ(secure(8, {0x10, 0x11}, {}), 0);  // verify it
        EXPECT_EQ(secure(8, {0x10}, {}), 0x87);
        EXPECT_EQ(secure(0xA, {0x10}, {0x12}), 0x87);  // change needs the old one
        EXPECT_EQ(secure(0xA, {0x10, 0x11}, {0x12}), 0);
        EXPECT_EQ(secure(8, {0x12}, {}), 0);
        // Short setup password "abc": characters reversed in EBX, checksum in the low byte of ECX.
        Registers r;
        r.eax = 0xE842 | (3u << 16);
        r.edx = 0x53454355;
        r.ebx = 0x1E302E00u;  // a b c
        r.ecx = static_cast<uint8_t>(0x1E + 0x30 + 0x2E);
        f.Int15(r, nullptr, memory, false);
        EXPECT_EQ(Ah(r), 0);
        CallOutcome o;
        EXPECT_EQ(f.ChangeLockState(false, {0x1E, 0x30, 0x2E}, o), 0);
    });
}

TEST_F(MachineTest, DefaultsRestoreTheProfileValues) {
    Use("laptop-legacy")->Transact([](Firmware& f) {
        FlatMemory memory;
        Registers r;
        r.eax = 0xE845;
        r.ebx = 1;  // BH = 0
        r.ecx = 0x46;
        f.Int15(r, nullptr, memory, false);
        for (uint32_t bh : {0u, 1u}) {
            r = {};
            r.eax = 0xE841;
            r.ebx = bh << 8;
            f.Int15(r, nullptr, memory, true);
            EXPECT_EQ(Ah(r), 0);
        }
        r = {};
        r.eax = 0xE845;
        r.ecx = 0x46;
        f.Int15(r, nullptr, memory, false);
        EXPECT_EQ((r.ebx >> 8) & 0xFF, 1u);
    });
}

TEST_F(MachineTest, PlugAndPlayAndPciBios) {
    Use("laptop-legacy")->Transact([](Firmware& f) {
        FlatMemory memory;
        std::vector<uint16_t> w = {0x61, 0, 0x1000, 2, 0x1000, 4, 0x1000, 0};
        f.PnpBios(w, memory);
        EXPECT_EQ(w[0], 0);
        EXPECT_EQ(memory.bytes[0x10000], 6);  // six boot devices
        w = {0x62, 0, 0x1000, 16, 0x1000, 0};
        f.PnpBios(w, memory);
        ASSERT_EQ(w[0], 0);
        uint32_t text;
        std::memcpy(&text, &memory.bytes[0x10010 + 8], 4);
        EXPECT_EQ(text >> 16, 0xF000u);
        Bytes description = f.ReadRomArea(0xF0000 + (text & 0xFFFF), 6);
        EXPECT_EQ(std::string(description.begin(), description.begin() + 5), "HDA-L");
        memory.bytes[0x10000] = 2;
        memory.bytes[0x10001] = 0;
        memory.bytes[0x10002] = 1;
        memory.bytes[0x10003] = 3;
        w = {0x63, 0, 0x1000, 0};
        f.PnpBios(w, memory);
        EXPECT_EQ(w[0], 0);
        memory.bytes[0x10003] = 2;  // a repeated entry is refused
        w = {0x63, 0, 0x1000, 0};
        f.PnpBios(w, memory);
        EXPECT_EQ(w[0], 0x84);
        w = {0x45, 0};
        f.PnpBios(w, memory);
        EXPECT_EQ(w[0], 0x81);

        Registers r;
        r.eax = 0xB10A;
        r.ebx = (31 << 3) | 0;  // bus 0, device 31, function 0
        f.PciBios(r);
        EXPECT_EQ(r.ecx, 0x24CC8086u);
        r.eax = 0xB10A;
        r.ebx = (5 << 3);
        f.PciBios(r);
        EXPECT_EQ(r.ecx, 0xFFFFFFFFu);  // no device there
        r.eax = 0xB10A;
        r.edi = 2;  // unaligned dword
        f.PciBios(r);
        EXPECT_EQ(Ah(r), 0x87);
    });
}

TEST_F(MachineTest, InjectedFaultsActOnTheNthCall) {
    auto machine = Use(WriteProfile(R"({
      "int15": {"e845": {"settings": {"0x46": 1}}},
      "faults": [{"call": "int15.E845.46", "nth": 2, "action": "status", "status": "0x99"},
                 {"call": "int15.E845.46", "nth": 3, "action": "fail"},
                 {"call": "int15.E845.46", "nth": 4, "action": "ignore-write"}]})"));
    std::vector<std::pair<bool, uint8_t>> seen;
    for (int i = 0; i < 5; ++i)
        machine->Transact([&](Firmware& f) {
            FlatMemory memory;
            Registers r;
            r.eax = 0xE845;
            r.ebx = 1;  // write BH = 0
            r.ecx = 0x46;
            CallOutcome o = f.Int15(r, nullptr, memory, false);
            seen.emplace_back(o.reached, Ah(r));
        });
    EXPECT_EQ(seen[0], std::make_pair(true, uint8_t{0}));
    EXPECT_EQ(seen[1], std::make_pair(true, uint8_t{0x99}));
    EXPECT_FALSE(seen[2].first);
    machine->Transact([&](Firmware& f) {
        FlatMemory memory;
        Registers r;
        r.eax = 0xE845;
        r.ecx = 0x46;
        f.Int15(r, nullptr, memory, false);
        EXPECT_EQ((r.ebx >> 8) & 0xFF, 0u);
    });
}

TEST_F(MachineTest, FlashPartKeepsItsImageAndChecksThePassword) {
    auto machine = Use("desktop");
    machine->Transact([](Firmware& f) {
        CallOutcome o;
        Bytes image(0x40000, 0x5A);
        EXPECT_EQ(f.FlashWrite(Bytes(0x3FFFF, 0), {}, o), 0x8B);
        EXPECT_EQ(f.FlashWrite(image, {}, o), 0);
    });
    qv::win::ResetRootMachineForTesting();
    qv::win::RootMachine()->Transact([](Firmware& f) {
        CallOutcome o;
        Bytes back;
        EXPECT_EQ(f.FlashRead(back, 0x40000, {}, o), 0);
        EXPECT_EQ(back, Bytes(0x40000, 0x5A));
    });
}
