// Machine profiles, the machine's creation and persistence, and the Windows description it gives.

#include "machine_fixture.h"
#include "machine_store.h"
#include "profile.h"
#include "simulated_firmware.h"
#include "windows.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <optional>

using qv::machine::Bytes;
using qv::machine::Firmware;
using qv::machine::Machine;
using qv::machine::Registers;

namespace {

uint8_t Sum(const Bytes& b, size_t from, size_t to) {
    uint8_t s = 0;
    for (size_t i = from; i < to; ++i) s = static_cast<uint8_t>(s + b[i]);
    return s;
}

}  // namespace

TEST_F(MachineTest, EveryShippedProfileMakesAMachine) {
    auto names = qv::machine::ShippedProfileNames();
    for (const char* required : {"desktop", "laptop-legacy", "native-wmi", "x64", "unsupported"})
        EXPECT_NE(std::find(names.begin(), names.end(), required), names.end()) << required;
    for (const auto& name : names) {
        EXPECT_NO_THROW(qv::machine::ValidateProfile(qv::machine::ShippedProfile(name))) << name;
    }
    EXPECT_EQ(Use("")->ProfileName(), "desktop");  // the default
    EXPECT_TRUE(std::filesystem::exists(root_ / "machine" / "state.json"));
    EXPECT_EQ(std::filesystem::file_size(root_ / "machine" / "flash.bin"), 0x40000u);
}

TEST_F(MachineTest, ProfileFaultsAreNamed) {
    struct Case {
        const char* text;
        const char* mentions;
    } cases[] = {
        {"[1]", "JSON object"},
        {"{\"windows\": {\"major\": \"five\"}}", "windows.major"},
        {"{\"rom\": {\"maker_tag\": \"TOO-LONG-TAG\"}}", "maker_tag"},
        {"{\"system_objects\": {\"objects\": [{\"name\": \"X\", \"type\": \"colour\"}]}}", "unknown type"},
        {"{\"system_objects\": {\"objects\": [{\"name\": \"X\", \"type\": \"enum\", \"choices\": [\"A\"], "
         "\"value\": \"B\"}]}}",
         "one of the choices"},
        {"{\"system_objects\": {\"objects\": [{\"name\": \"K\", \"type\": \"ext_int\"}]}}", "needs a \"key\""},
        {"{\"passwords\": {\"setup\": \"1E3\"}}", "even number"},
        {"{\"faults\": [{\"call\": \"int15\", \"action\": \"explode\"}]}", "action"},
        {"{\"pnp\": {\"nodes\": [{\"id\": \"PNP\", \"class\": [1, 2, 3]}]}}", "EISA"},
        {"{\"smbios\": {\"structures\": [{\"type\": 1, \"strings\": [\"\"]}]}}", "non-empty"},
        {"{\"kind\": \"virtual\"}", "kind"},
        {"{\"host\": {\"firmware_attributes\": \"/x\"}}", "needs \"kind\""},
    };
    for (const auto& c : cases) {
        try {
            qv::machine::ValidateProfile(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(c.mentions), std::string::npos) << e.what();
        }
    }
}

TEST_F(MachineTest, UnknownProfileNameListsTheShippedOnes) {
    setenv("QV_MACHINE", "mainframe", 1);
    try {
        Machine::Open(root_);
        FAIL() << "no error";
    } catch (const qv::machine::MachineNotMade& e) {
        EXPECT_NE(std::string(e.what()).find("laptop-legacy"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(root_ / "machine" / "profile.json"));  // nothing half-made
}

TEST_F(MachineTest, ProfileFromAPathWithDefaults) {
    auto machine = Use(WriteProfile(R"({"name": "mini", "windows": {"language": "0x0C0C"}})"));
    EXPECT_EQ(machine->ProfileName(), "mini");
    EXPECT_EQ(machine->Windows().language, 0x0C0C);
    EXPECT_EQ(machine->Windows().major, 5u);
    EXPECT_EQ(machine->Windows().platform, 2u);
}

TEST_F(MachineTest, WindowsFunctionsDescribeTheProfile) {
    Use("x64");
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExW(&info));
    EXPECT_EQ(info.dwMajorVersion, 5u);
    EXPECT_EQ(info.dwMinorVersion, 2u);
    EXPECT_EQ(std::wstring(info.szCSDVersion), L"Service Pack 2");
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_TRUE(wow64);
    SYSTEM_INFO native{};
    GetNativeSystemInfo(&native);
    EXPECT_EQ(native.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);
    info.dwOSVersionInfoSize = 3;
    EXPECT_FALSE(GetVersionExW(&info));
}

// The version functions read only the profile's "windows" member when the process has not opened the
// machine; they must give what the machine itself gives, make a missing machine, and keep to the root's
// stored profile whatever QV_MACHINE says later.
TEST_F(MachineTest, InstalledWindowsIsTheStoredProfilesWindows) {
    setenv("QV_MACHINE",
           WriteProfile(R"({"name": "w2k", "windows": {"major": 5, "minor": 0,
        "service_pack": "Service Pack 4", "language": "0x0407"},
        "system_objects": {"objects": [{"name": "A", "type": "enum", "choices": ["Off", "On"], "value": "On"}]}})")
               .c_str(),
           1);
    auto check = [](const qv::machine::WindowsDescription& w) {
        EXPECT_EQ(w.major, 5u);
        EXPECT_EQ(w.minor, 0u);
        EXPECT_EQ(w.servicePack, "Service Pack 4");
        EXPECT_EQ(w.language, 0x0407);
    };
    check(qv::win::RootInstalledWindows());  // makes the machine
    EXPECT_TRUE(std::filesystem::exists(root_ / "machine" / "profile.json"));
    qv::win::ResetRootMachineForTesting();
    setenv("QV_MACHINE", "x64", 1);
    check(qv::win::RootInstalledWindows());  // from profile.json alone
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExW(&info));
    EXPECT_EQ(info.dwMinorVersion, 0u);
    check(qv::win::RootMachine()->Windows());
}

TEST_F(MachineTest, RomAreaHoldsTagsTablesAndAValidSmbiosEntryPoint) {
    auto machine = Use("desktop");
    machine->Transact([](Firmware& f) {
        Bytes top = f.ReadRomArea(0xFFFE4, 28);
        ASSERT_EQ(top.size(), 28u);
        EXPECT_EQ(std::string(top.begin() + 6, top.begin() + 12), "BREVIK");
        EXPECT_EQ(std::string(top.begin() + 17, top.begin() + 25), "07/12/06");
        EXPECT_EQ(top[0], 'D');
        EXPECT_EQ(top[2], 7);
        Bytes sit = f.ReadRomArea(f.SystemInformationTableAddress() & 0xFFFFF, 4);
        EXPECT_EQ(std::string(sit.begin(), sit.end()), "!SIT");
        auto entry = f.SmbiosEntryPoint();
        ASSERT_TRUE(entry.has_value());
        ASSERT_EQ(entry->size(), 31u);
        EXPECT_EQ(Sum(*entry, 0, 31), 0);
        EXPECT_EQ(Sum(*entry, 16, 31), 0);
        // The entry point is also found by scanning the F segment on 16-byte boundaries.
        Bytes segment = f.ReadRomArea(0xF0000, 0x10000);
        size_t found = 0;
        for (size_t at = 0; at + 31 <= segment.size(); at += 16)
            if (std::equal(entry->begin(), entry->end(), segment.begin() + static_cast<long>(at))) found = at;
        EXPECT_NE(found, 0u);
        uint32_t address;
        uint16_t length, count;
        std::memcpy(&length, entry->data() + 22, 2);
        std::memcpy(&address, entry->data() + 24, 4);
        std::memcpy(&count, entry->data() + 28, 2);
        Bytes table = f.ReadRomArea(address, length);
        ASSERT_EQ(table.size(), length);
        // Walk the structures: formatted area, then strings up to a double NUL; the last one is type 127.
        size_t at = 0, seen = 0;
        uint8_t last = 0;
        while (at < table.size()) {
            last = table[at];
            at += table[at + 1];
            while (!(table[at] == 0 && table[at + 1] == 0)) ++at;
            at += 2;
            ++seen;
        }
        EXPECT_EQ(seen, count);
        EXPECT_EQ(last, 127);
        EXPECT_TRUE(f.ReadRomArea(0x100000, 4).empty());
    });
}

TEST_F(MachineTest, StatePersistsAcrossMachineInstances) {
    Use("laptop-legacy")->Transact([](Firmware& f) {
        FlatMemory memory;
        Registers r;
        r.eax = 0xE845;
        r.ebx = 0x0001 | (0 << 8);  // write BH = 0
        r.ecx = 0x46;
        f.Int15(r, nullptr, memory, false);
        EXPECT_EQ(r.eflags & 1, 0u);
    });
    qv::win::ResetRootMachineForTesting();
    setenv("QV_MACHINE", "desktop", 1);  // ignored: the root already has its machine
    auto again = qv::win::RootMachine();
    EXPECT_EQ(again->ProfileName(), "laptop-legacy");
    again->Transact([](Firmware& f) {
        FlatMemory memory;
        Registers r;
        r.eax = 0xE845;
        r.ecx = 0x46;
        f.Int15(r, nullptr, memory, false);
        EXPECT_EQ((r.ebx >> 8) & 0xFF, 0u);
    });
}

TEST_F(MachineTest, CallsOfSeveralProcessesAreAtomic) {
    auto machine = Use("desktop");
    auto increment = [&] {
        machine->Transact([](Firmware& f) {
            FlatMemory memory;
            Registers r;
            r.eax = 0xE845;
            r.ecx = 0x71;
            f.Int15(r, nullptr, memory, true);
            uint32_t value = (r.ebx >> 8) & 0xFF;
            r.eax = 0xE845;
            r.ecx = 0x71;
            r.ebx = 1 | ((value + 1) << 8);
            f.Int15(r, nullptr, memory, true);
        });
    };
    constexpr int kProcesses = 4, kEach = 25;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t pid = fork();
        if (pid == 0) {
            for (int i = 0; i < kEach; ++i) increment();
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_EQ(status, 0);
    }
    machine->Transact([](Firmware& f) {
        FlatMemory memory;
        Registers r;
        r.eax = 0xE845;
        r.ecx = 0x71;
        f.Int15(r, nullptr, memory, true);
        EXPECT_EQ((r.ebx >> 8) & 0xFF, static_cast<uint32_t>(kProcesses * kEach));
    });
}

TEST_F(MachineTest, DamagedStateIsReportedNotUsed) {
    auto machine = Use("desktop");
    std::ofstream(root_ / "machine" / "state.json") << "{\"e845\": ";
    machine->StateReplacedOutside();
    EXPECT_THROW(machine->Transact([](Firmware&) {}), std::runtime_error);
}

// The one-shot network boot byte (INT 15h E845h, 71h) in one transaction: written when `set` holds a value,
// read back either way.
uint32_t NetworkBootByte(Machine& machine, std::optional<uint32_t> set) {
    uint32_t value = 0;
    machine.Transact([&](Firmware& f) {
        FlatMemory memory;
        Registers r;
        r.eax = 0xE845;
        r.ecx = 0x71;
        r.ebx = set ? 1 | (*set << 8) : 0;
        f.Int15(r, nullptr, memory, true);
        value = (r.ebx >> 8) & 0xFF;
    });
    return value;
}

// A process that keeps the parsed state between calls must see every change another process made since, even
// when that process replaced the state file twice within one tick of the file system's clock with a file of the
// same size (the second file may even reuse the first one's inode).
TEST_F(MachineTest, ChangesOfAnotherProcessAreSeenByTheNextCall) {
    auto machine = Use("desktop");
    auto pxe = [&](std::optional<uint32_t> set) { return NetworkBootByte(*machine, set); };
    pxe(10);
    for (uint32_t round = 0; round < 20; ++round) {
        uint32_t base = 10 + (round * 2) % 80;            // two digits throughout: every state file has the same size
        ASSERT_EQ(pxe(std::nullopt), pxe(std::nullopt));  // this process now holds the parsed state
        pid_t pid = fork();
        if (pid == 0) {
            pxe(base + 1);
            pxe(base + 2);
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_EQ(status, 0);
        ASSERT_EQ(pxe(std::nullopt), base + 2) << "round " << round;
    }
}

// The same, when the file the other process left has the very inode, size and time of the one this process read
// (what the file system gives when it reuses a freed inode within one tick of its clock): the change counter
// tells them apart.
TEST_F(MachineTest, AChangeIsSeenEvenWhenTheStateFileLooksTheSame) {
    auto machine = Use("desktop");
    auto pxe = [&](std::optional<uint32_t> set) { return NetworkBootByte(*machine, set); };
    pxe(11);
    ASSERT_EQ(pxe(std::nullopt), 11u);  // parsed and kept
    std::filesystem::path state = root_ / "machine" / "state.json", kept = root_ / "machine" / "state.kept";
    std::filesystem::create_hard_link(state, kept);  // holds the inode this process read
    struct stat before {};
    ASSERT_EQ(::stat(state.c_str(), &before), 0);
    pid_t pid = fork();
    if (pid == 0) {
        pxe(12);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_EQ(status, 0);
    // The other process's state, moved into the old inode with the old time.
    std::ifstream in(state, std::ios::binary);
    std::string changed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(changed.size(), static_cast<size_t>(before.st_size));
    std::ofstream(kept, std::ios::binary | std::ios::trunc) << changed;
    timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, kept.c_str(), times, 0), 0);
    std::filesystem::rename(kept, state);
    struct stat after {};
    ASSERT_EQ(::stat(state.c_str(), &after), 0);
    ASSERT_EQ(after.st_ino, before.st_ino);
    ASSERT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(pxe(std::nullopt), 12u);
}

// A process killed while it holds the machine's lock, before or after its new state file took the old one's
// place (and before the change counter moved): the next call neither waits for ever nor keeps what it had
// parsed, and it finds the state from before or after, with no temporary file left.
TEST_F(MachineTest, AProcessKilledHoldingTheLockLeavesTheLockAndAWholeStateToTheNext) {
    using qv::machine::WriteStep;
    auto machine = Use("desktop");
    auto pxe = [&](std::optional<uint32_t> set) { return NetworkBootByte(*machine, set); };
    const struct {
        WriteStep killedAt;
        uint32_t found;
    } cases[] = {
        {WriteStep::kWritten, 30}, {WriteStep::kClosed, 30}, {WriteStep::kRenamed, 31}, {WriteStep::kFolderSynced, 31}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.killedAt));
        ASSERT_EQ(pxe(30), 30u);  // parsed and kept by this process
        pid_t pid = fork();
        if (pid == 0) {
            qv::machine::ObserveWriteStepsForTesting([&](WriteStep step) {
                if (step == c.killedAt) ::raise(SIGKILL);
            });
            pxe(31);
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
        EXPECT_EQ(pxe(std::nullopt), c.found);
        EXPECT_FALSE(std::filesystem::exists(root_ / "machine" / "state.json.tmp"));
    }
}
