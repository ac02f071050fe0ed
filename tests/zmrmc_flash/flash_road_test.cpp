// ZmrMCFlashRomFromCAB on the real road: the library loaded by path in a fresh system root, its driver
// process (desktop-based machines) or the call gate through the instrumentation service (x64-based machines,
// where no driver is installed), the simulated flash part with the faults its profile gives. After every case
// the ROM is read back from the machine's state by a process of its own and compared: the new image, the
// contents from before, or (where the firmware forbade a retry or the power went) exactly the blocks written
// before it.

#include "ZmrMC.h"
#include "flash_fixtures.h"
#include "qv_machine.h"
#include "qv_root_machine.h"
#include "qv_system_root.h"
#include "qv_temp_root.h"
#include "qv_test_paths.h"
#include "windows.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <functional>

namespace {

using Json = nlohmann::json;
constexpr size_t kBlock = 4096;

enum class Source {
    kLoose,
    kLooseLowerCase,
    kCabinetCompressed,  // entry names in other letter case
    kCabinetStored,
    kCabinetWithoutImage,
    kCabinetDamaged,
    kBadSignature,
    kNoSignature,
    kOtherKey,
};

enum class Rom { kNew, kOld, kNewBlocksThenOld, kNewButKeptBlock };

struct FlashCase {
    const char* name;
    const char* base;  // "desktop": through the driver; "x64": through the call gate
    bool portable;
    const char* flash;   // the profile's "flash" member
    const char* faults;  // the profile's "faults" member
    Source source;
    size_t imageSize;
    int status;
    Rom rom;
    uint32_t block = 0;  // kNewBlocksThenOld: how many; kNewButKeptBlock: which
};

class FlashRoad : public TempRootTest {
protected:
    void MakeMachine(const char* base, bool portable, const Json& flash, const Json& faults,
                     const std::string& setupPassword = "", const std::function<void(Json&)>& edit = {}) {
        Json profile = Json::parse(qv::machine::ShippedProfile(base));
        if (edit) edit(profile);
        profile["flash"] = flash;
        profile["faults"] = faults;
        profile["passwords"] = {{"setup", setupPassword}, {"power_on", ""}};
        for (Json& s : profile["smbios"]["structures"])
            if (s["type"] == 3) s["fields"][1] = portable ? 10 : 7;
        files_ = root_.string() + ".files";
        std::filesystem::create_directories(files_);
        std::ofstream(files_ / "profile.json") << profile.dump(2);
        setenv("QV_MACHINE", (files_ / "profile.json").c_str(), 1);
        setenv("QV_DRIVER_WATCH_PID", std::to_string(getpid()).c_str(), 1);
    }

    // The ROM as the machine's firmware reads it, from a new process; empty when it did not answer.
    Bytes RomNow(const std::string& password = "") {
        std::vector<std::string> args = {BuildTree() + "/tests/qvt_rom_reader", root_.string(),
                                         (files_ / "rom.now").string()};
        if (!password.empty()) args.push_back(password);
        int code = WaitChild(StartChild(args, files_ / "reader.out", files_ / "reader.err"), std::chrono::seconds(60));
        if (code != 0) return {};
        return ReadBytes(files_ / "rom.now");
    }

    int Flash(const std::string& path, const char* password) {
        qv::win::ResetRootMachineForTesting();
        qv::win::SystemRoot();
        std::wstring library = qv::win::FromUtf8(BuildTree() + "/lib/libZmrMC.so");
        HMODULE module = LoadLibraryW(library.c_str());
        EXPECT_NE(module, nullptr);
        if (module == nullptr) return -1;
        auto init = reinterpret_cast<int (*)(int, int)>(GetProcAddress(module, "ZmrMCInit"));
        auto flash = reinterpret_cast<int (*)(const char*, const char*)>(
            GetProcAddress(module, "ZmrMCFlashRomFromCAB"));
        EXPECT_TRUE(init != nullptr && flash != nullptr);
        int status = -1;
        if (init != nullptr && flash != nullptr) {
            EXPECT_EQ(init(0, 1), 1);
            status = flash(path.c_str(), password);
        }
        FreeLibrary(module);
        return status;
    }

    // The file `source` asks for, holding `image` (and its signature), in the fixture's folder.
    std::string Prepare(Source source, const Bytes& image) {
        std::filesystem::path dir = files_;
        switch (source) {
        case Source::kLoose:
            WriteBytes(dir / "NEW.BIN", image);
            WriteBytes(dir / "NEW.SIG", Sign(image, SigningKey()));
            return (dir / "NEW.BIN").string();
        case Source::kLooseLowerCase:
            WriteBytes(dir / "new.bin", image);
            WriteBytes(dir / "new.SIG", Sign(image, SigningKey()));
            return (dir / "new.bin").string();
        case Source::kCabinetCompressed:
            return MakeCabinet(dir, "new.cab", SignedEntries(image, "rom.bin", "Rom.Sig"), true);
        case Source::kCabinetStored: return MakeCabinet(dir, "new.cab", SignedEntries(image), false);
        case Source::kCabinetWithoutImage:
            return MakeCabinet(dir, "new.cab", {{"ROM.SIG", Sign(image, SigningKey())}, {"ROM.BI", image}}, true);
        case Source::kCabinetDamaged: {
            std::filesystem::path cab = MakeCabinet(dir, "new.cab", SignedEntries(image), true);
            Bytes bytes = ReadBytes(cab);
            bytes[bytes.size() / 2] ^= 0x40;
            WriteBytes(cab, bytes);
            return cab.string();
        }
        case Source::kBadSignature: {
            Bytes signature = Sign(image, SigningKey());
            signature[3] ^= 1;
            WriteBytes(dir / "NEW.BIN", image);
            WriteBytes(dir / "NEW.SIG", signature);
            return (dir / "NEW.BIN").string();
        }
        case Source::kNoSignature: WriteBytes(dir / "NEW.BIN", image); return (dir / "NEW.BIN").string();
        case Source::kOtherKey:
            WriteBytes(dir / "NEW.BIN", image);
            WriteBytes(dir / "NEW.SIG", Sign(image, OtherKey()));
            return (dir / "NEW.BIN").string();
        }
        return {};
    }

    void TearDown() override {
        unsetenv("QV_MACHINE");
        qv::win::ResetRootMachineForTesting();
        TempRootTest::TearDown();
        if (!files_.empty()) std::filesystem::remove_all(files_);
    }

    std::filesystem::path files_;
};

// What the ROM must hold after a case: `image` over `old` as the case says.
Bytes ExpectedRom(const FlashCase& c, const Bytes& image, const Bytes& old) {
    Bytes rom = old;
    switch (c.rom) {
    case Rom::kOld: break;
    case Rom::kNew: rom = image; break;
    case Rom::kNewBlocksThenOld: std::copy(image.begin(), image.begin() + c.block * kBlock, rom.begin()); break;
    case Rom::kNewButKeptBlock:
        rom = image;
        std::copy(old.begin() + c.block * kBlock, old.begin() + (c.block + 1) * kBlock, rom.begin() + c.block * kBlock);
        break;
    }
    return rom;
}

class FlashCases : public FlashRoad, public ::testing::WithParamInterface<FlashCase> {};

TEST_P(FlashCases, RomHoldsWhatTheStatusSays) {
    const FlashCase& c = GetParam();
    MakeMachine(c.base, c.portable, Json::parse(c.flash), Json::parse(c.faults));
    Bytes old = RomNow();
    ASSERT_FALSE(old.empty());
    Bytes image = TestImage(c.imageSize, 7);
    std::string path = Prepare(c.source, image);
    ASSERT_FALSE(path.empty());

    EXPECT_EQ(Flash(path, ""), c.status);

    Bytes now = RomNow();
    if (std::string(c.flash).find("power_loss_after") != std::string::npos) {
        EXPECT_TRUE(now.empty()) << "the machine stays without power";
        now = ReadBytes(root_ / "machine" / "flash.bin");
    }
    ASSERT_EQ(now.size(), old.size());
    if (c.rom != Rom::kOld) {
        ASSERT_EQ(image.size(), old.size());
    }
    EXPECT_TRUE(now == ExpectedRom(c, image, old)) << "the ROM does not hold what the case expects";
}

const char kPart[] = R"({"size": "0x40000"})";
const char kNoFaults[] = "[]";

const FlashCase kDriverCases[] = {
    {"LoosePair", "desktop", false, kPart, kNoFaults, Source::kLoose, 0x40000, 0, Rom::kNew},
    {"LoosePairLowerCase", "desktop", true, kPart, kNoFaults, Source::kLooseLowerCase, 0x40000, 0, Rom::kNew},
    {"CabinetCompressedOtherCase", "desktop", true, kPart, kNoFaults, Source::kCabinetCompressed, 0x40000, 0,
     Rom::kNew},
    {"CabinetStored", "desktop", false, kPart, kNoFaults, Source::kCabinetStored, 0x40000, 0, Rom::kNew},
    {"CabinetWithoutRomBin", "desktop", false, kPart, kNoFaults, Source::kCabinetWithoutImage, 0x40000, 245, Rom::kOld},
    {"CabinetDamaged", "desktop", false, kPart, kNoFaults, Source::kCabinetDamaged, 0x40000, 245, Rom::kOld},
    {"ImageOneByteShort", "desktop", false, R"({"size": "0x3F000"})", kNoFaults, Source::kLoose, 0x3FFFF, 245,
     Rom::kOld},
    {"BadSignature", "desktop", false, kPart, kNoFaults, Source::kBadSignature, 0x40000, 246, Rom::kOld},
    {"NoSignature", "desktop", false, kPart, kNoFaults, Source::kNoSignature, 0x40000, 246, Rom::kOld},
    {"OtherKey", "desktop", false, kPart, kNoFaults, Source::kOtherKey, 0x40000, 246, Rom::kOld},
    // The firmware refuses an image longer than its part (8Bh) before writing (nor can a copy that long be
    // saved): its status stands.
    {"ImageLongerThanPart", "desktop", false, kPart, kNoFaults, Source::kLoose, 0x41000, 0x8B, Rom::kOld},
    {"BlockFailsEveryTime", "desktop", true, R"({"failing_block": {"block": 10}})", kNoFaults, Source::kLoose, 0x40000,
     252, Rom::kOld},
    {"NoRetryPartWay", "desktop", false, R"({"failing_block": {"block": 10, "status": 19}})", kNoFaults, Source::kLoose,
     0x40000, 19, Rom::kNewBlocksThenOld, 10},
    {"KeptBlockReadBack", "desktop", true, R"({"kept_block": 5})", kNoFaults, Source::kLoose, 0x40000, 0,
     Rom::kNewButKeptBlock, 5},
    {"KeptBlockNoReadBack", "desktop", false, R"({"kept_block": 5})", kNoFaults, Source::kLoose, 0x40000, 0,
     Rom::kNewButKeptBlock, 5},
    {"PowerLossPartWay", "desktop", false, R"({"power_loss_after": 10})", kNoFaults, Source::kLoose, 0x40000, 240,
     Rom::kNewBlocksThenOld, 10},
    {"RejectedTwiceThenWritten", "desktop", false, kPart,
     R"([{"call": "flash.write", "nth": 1, "times": 2, "action": "status", "status": 240}])", Source::kLoose, 0x40000,
     0, Rom::kNew},
    // Six writes fail without a status; the ROM read afterwards still holds the saved contents.
    {"NeverReachesTheFirmware", "desktop", false, kPart, R"([{"call": "flash.write", "times": 0}])", Source::kLoose,
     0x40000, 252, Rom::kOld},
    {"ReadBackCatchesAnIgnoredWrite", "desktop", true, kPart, R"([{"call": "flash.write", "action": "ignore-write"}])",
     Source::kLoose, 0x40000, 0, Rom::kNew},
    {"ReadBackNeverMatches", "desktop", true, kPart,
     R"([{"call": "flash.write", "times": 0, "action": "ignore-write"}])", Source::kLoose, 0x40000, 252, Rom::kOld},
};

const FlashCase kGateCases[] = {
    {"LoosePair", "x64", false, kPart, kNoFaults, Source::kLoose, 0x40000, 0, Rom::kNew},
    {"CabinetCompressedReadBack", "x64", true, kPart, kNoFaults, Source::kCabinetCompressed, 0x40000, 0, Rom::kNew},
    {"SmallerBlocks", "x64", true, R"({"block_size": 2048})", kNoFaults, Source::kCabinetStored, 0x40000, 0, Rom::kNew},
    {"BadSignature", "x64", false, kPart, kNoFaults, Source::kBadSignature, 0x40000, 246, Rom::kOld},
    {"ImageOneBlockShorterThanRom", "x64", false, R"({"size": "0x41000"})", kNoFaults, Source::kLoose, 0x40000,
     281 & 0xFF, Rom::kOld},
    {"InterfaceVersion0101", "x64", false, R"({"interface_version": "0x0101"})", kNoFaults, Source::kLoose, 0x40000, 17,
     Rom::kOld},
    {"RomNotWholeBlocks", "x64", false, R"({"block_size": 3000})", kNoFaults, Source::kLoose, 0x40000, 280 & 0xFF,
     Rom::kOld},
    {"BlocksAbove4096", "x64", false, R"({"block_size": 8192})", kNoFaults, Source::kLoose, 0x40000, 280 & 0xFF,
     Rom::kOld},
    {"LastBlockFailsEveryTime", "x64", false, R"({"failing_block": {"block": 63}})", kNoFaults, Source::kLoose, 0x40000,
     252, Rom::kOld},
    {"NoRetryPartWay", "x64", true, R"({"failing_block": {"block": 10, "status": 19}})", kNoFaults, Source::kLoose,
     0x40000, 19, Rom::kNewBlocksThenOld, 10},
    {"KeptBlockReadBack", "x64", true, R"({"kept_block": 5})", kNoFaults, Source::kLoose, 0x40000, 0,
     Rom::kNewButKeptBlock, 5},
    {"PowerLossPartWay", "x64", false, R"({"power_loss_after": 10})", kNoFaults, Source::kLoose, 0x40000, 240,
     Rom::kNewBlocksThenOld, 10},
    {"ReadBackNeverMatches", "x64", true, kPart,
     R"([{"call": "flash.block.write", "times": 0, "action": "ignore-write"}])", Source::kLoose, 0x40000, 252,
     Rom::kOld},
};

std::string CaseName(const ::testing::TestParamInfo<FlashCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Driver, FlashCases, ::testing::ValuesIn(kDriverCases), CaseName);
INSTANTIATE_TEST_SUITE_P(Gate, FlashCases, ::testing::ValuesIn(kGateCases), CaseName);

// The setup password travels with every flash request; a wrong one writes nothing (the driver path reports
// the firmware's 87h; the gate's protocol, which cannot save the ROM then either, reports 240).
TEST_F(FlashRoad, SetupPasswordOnBothPaths) {
    for (const char* base : {"desktop", "x64"}) {
        SCOPED_TRACE(base);
        const int wrong = std::string(base) == "desktop" ? 0x87 : 240;
        MakeMachine(base, true, Json::parse(kPart), Json::array(), "1E30");
        Bytes old = RomNow("1E30");
        ASSERT_FALSE(old.empty());
        Bytes image = TestImage(0x40000, 9);
        std::string path = Prepare(Source::kLoose, image);
        EXPECT_EQ(Flash(path, "\x1E\x31"), wrong);
        EXPECT_TRUE(RomNow("1E30") == old);
        EXPECT_EQ(Flash(path, "\x1E\x30"), 0);
        EXPECT_TRUE(RomNow("1E30") == image);
        EndRootProcesses(root_);
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_);
        qv::win::ResetSystemRootForTesting();
    }
}

// After each write attempt the post-flash call goes to the firmware, again as a 16-bit call when the 32-bit one
// answers with a nonzero AH.
TEST_F(FlashRoad, PostFlashCallFallsBackToSixteenBits) {
    for (bool answered : {true, false}) {
        SCOPED_TRACE(answered ? "E822h answered" : "E822h not supported");
        MakeMachine("desktop", false, Json::parse(kPart), Json::parse(R"([{"call": "int15.E822", "nth": 1000000}])"),
                    "", [&](Json& p) { p["int15"]["e822"] = answered; });
        std::string path = Prepare(Source::kLoose, TestImage(0x40000, 11));
        EXPECT_EQ(Flash(path, ""), 0);
        Json state = Json::parse(ReadBytes(root_ / "machine" / "state.json"));
        EXPECT_EQ(state["fault_counts"][0], answered ? 1 : 2);
        EndRootProcesses(root_);
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_);
        qv::win::ResetSystemRootForTesting();
    }
}

TEST_F(FlashRoad, PasswordLongerThan32BytesSendsNothingThroughTheGate) {
    // The rule only counts the firmware's flash calls (it acts on none of them).
    MakeMachine("x64", false, Json::parse(kPart), Json::parse(R"([{"call": "flash", "nth": 1000000}])"));
    ASSERT_FALSE(RomNow().empty());
    std::string path = Prepare(Source::kLoose, TestImage(0x40000, 10));
    EXPECT_EQ(Flash(path, std::string(33, '\x1E').c_str()), 128);
    Json state = Json::parse(ReadBytes(root_ / "machine" / "state.json"));
    EXPECT_EQ(state["fault_counts"][0], 1) << "a flash call besides the reader's reached the firmware";
}

// The administrators' command: the setup password from standard input, the outcome in words, and an image
// whose signature does not verify refused with the ROM left as it was.
TEST_F(FlashRoad, TheAdministratorsCommandFlashesAndSaysWhatHappened) {
    MakeMachine("desktop", true, Json::parse(kPart), Json::array(), "1E30");
    Bytes image = TestImage(0x40000, 12);
    std::string good = Prepare(Source::kLoose, image);
    std::filesystem::path input = files_ / "password.txt";
    std::ofstream(input) << "<kbd/>1E30\n";
    auto text = [&](const char* name) {
        Bytes bytes = ReadBytes(files_ / name);
        return std::string(bytes.begin(), bytes.end());
    };
    auto zmrmc = [&](const std::string& file) {
        std::vector<std::string> args = {
            "/bin/sh", "-c",          "exec \"$0\" --password-stdin flash \"$1\" < \"$2\"", BuildTree() + "/bin/zmrmc",
            file,      input.string()};
        return WaitChild(StartChild(args, files_ / "zmrmc.out", files_ / "zmrmc.err"), std::chrono::seconds(120));
    };
    EXPECT_EQ(zmrmc(good), 0) << text("zmrmc.err");
    EXPECT_NE(text("zmrmc.out").find("flashed"), std::string::npos) << text("zmrmc.out");
    EXPECT_TRUE(RomNow("1E30") == image);

    std::string bad = Prepare(Source::kBadSignature, TestImage(0x40000, 13));
    EXPECT_EQ(zmrmc(bad), 1);
    EXPECT_NE(text("zmrmc.err").find("signature"), std::string::npos) << text("zmrmc.err");
    EXPECT_TRUE(RomNow("1E30") == image);
}

}  // namespace
