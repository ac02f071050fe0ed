// The settings library loaded by path (as the provider loads it) on a fresh system root made from a machine
// profile, with its real driver process and the simulated machine behind it. Helpers find and edit records,
// read the machine's state file, and arm the machine's injected faults for the next matching call.
#pragma once

#include "ZmrMC.h"
#include "qv_machine.h"
#include "qv_system_root.h"
#include "qv_temp_root.h"
#include "qv_test_paths.h"
#include "windows.h"

#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// clang-format off (it does not settle on one layout for this list)
#define ZMRMC_WRITE_EXPORTS(X)      \
    X(ZmrMCInit)                    \
    X(ZmrMCGetIsAPwdSet)            \
    X(ZmrMCSetAPwd)                 \
    X(ZmrMCChangeAdminPassword)     \
    X(ZmrMCGetIsPowerOnPwdSet)      \
    X(ZmrMCSetPowerOnPwd)           \
    X(ZmrMCChangePowerOnPassword)   \
    X(ZmrMCVerifyPowerOnPassword)   \
    X(ZmrMCChangeSysObjLockState)   \
    X(ZmrMCSetSysObjValue)          \
    X(ZmrMCGetSysObjValue)          \
    X(BiosSettingsReadFromSystem)   \
    X(BiosSettingsWriteToSystem)    \
    X(BiosSettingsFindStringFromID) \
    X(BiosSettingsFindIDFromString) \
    X(BiosSettingsFindSRI)          \
    X(BiosSRIRelease)               \
    X(BiosSettingsSRIEnumCount)     \
    X(BiosSettingsSRIEnumGetAt)     \
    X(BiosSettingsSetItemInfo)      \
    X(BiosSetSystemDefaults)
// clang-format on

struct WriteExports {
#define ZMRMC_WRITE_MEMBER(name) decltype(&::name) name = nullptr;
    ZMRMC_WRITE_EXPORTS(ZMRMC_WRITE_MEMBER)
#undef ZMRMC_WRITE_MEMBER
};

// Fields of a packed record, by value (references to them would be misaligned).
#define SRI_GET(record, field) SriGet<decltype(SRI::field)>(record, offsetof(SRI, field))
#define SRI_SET(record, field, v) SriSet<decltype(SRI::field)>(record, offsetof(SRI, field), v)
template <typename T>
T SriGet(const SRI* r, size_t at) {
    T v;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(r) + at, sizeof v);
    return v;
}
template <typename T>
void SriSet(SRI* r, size_t at, T v) {
    std::memcpy(reinterpret_cast<uint8_t*>(r) + at, &v, sizeof v);
}

class WriteTest : public TempRootTest {
protected:
    using Json = nlohmann::json;

    void SetUp() override {
        TempRootTest::SetUp();
        setenv("QV_DRIVER_WATCH_PID", std::to_string(getpid()).c_str(), 1);  // no driver outlives this test
        debug_output_ = root_ / "debug-output.txt";
        setenv("QV_DEBUG_OUTPUT", debug_output_.c_str(), 1);
    }
    void TearDown() override {
        Unload();
        unsetenv("QV_MACHINE");
        unsetenv("QV_DEBUG_OUTPUT");
        TempRootTest::TearDown();
    }

    // A shipped profile as JSON, changed by `edit`, written into the root's folder; its path for Load.
    std::string Profile(const std::string& shipped, const std::function<void(Json&)>& edit) {
        std::ifstream in(SourceTree() + "/platform/machine/profiles/" + shipped + ".json");
        Json profile = Json::parse(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
        edit(profile);
        std::string path = (root_ / (shipped + "-changed.json")).string();
        std::ofstream(path) << profile.dump(1);
        return path;
    }

    // Loads the library on the root's machine (made from `profile` on first use) and initialises it.
    void Load(const std::string& profile) {
        setenv("QV_MACHINE", profile.c_str(), 1);
        qv::win::SystemRoot();
        std::wstring path = qv::win::FromUtf8(BuildTree() + "/lib/libZmrMC.so");
        module_ = LoadLibraryW(path.c_str());
        ASSERT_NE(module_, nullptr);
#define ZMRMC_WRITE_RESOLVE(name)                                                  \
    x_.name = reinterpret_cast<decltype(&::name)>(GetProcAddress(module_, #name)); \
    ASSERT_NE(x_.name, nullptr) << #name;
        ZMRMC_WRITE_EXPORTS(ZMRMC_WRITE_RESOLVE)
#undef ZMRMC_WRITE_RESOLVE
        ASSERT_TRUE(x_.ZmrMCInit(0, 1));
    }
    // Unloading the library stops and removes its driver; loading it again starts a new driver process.
    void Unload() {
        if (module_ != nullptr) FreeLibrary(module_);
        module_ = nullptr;
        x_ = {};
    }
    void Reload() {
        Unload();
        Load(std::getenv("QV_MACHINE"));
    }

    // Reads the settings anew (the previous read's reference is given back first).
    void Read(const char* password = nullptr) {
        while (x_.BiosSRIRelease() > 0) {
        }
        ASSERT_TRUE(x_.BiosSettingsReadFromSystem(password));
    }
    uint16_t Id(const std::string& text) {
        uint16_t id = 0xFFFF;
        EXPECT_TRUE(x_.BiosSettingsFindIDFromString(&id, text.c_str())) << text;
        return id;
    }
    // The record of a setting, with the sub-names of its instance key for keyed settings.
    SRI* Record(const std::string& name, const std::vector<std::string>& key = {}) {
        uint16_t ids[4] = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
        for (size_t i = 0; i < key.size(); ++i) ids[i] = Id(key[i]);
        SRI* record = x_.BiosSettingsFindSRI(Id(name), key.empty() ? nullptr : ids);
        EXPECT_NE(record, nullptr) << name;
        return record;
    }
    std::string Text(uint16_t id) { return x_.BiosSettingsFindStringFromID(id, nullptr); }
    uint8_t* Value(SRI* r) { return static_cast<uint8_t*>(SRI_GET(r, value)); }
    uint16_t Element(SRI* r, size_t i) {
        uint16_t id;
        std::memcpy(&id, Value(r) + 2 * i, 2);
        return id;
    }
    // The current choice (enumerations), the text (texts), the number (integers) or the items (lists).
    std::string Shown(SRI* r) {
        switch (SRI_GET(r, type)) {
        case SRI_TYPE_ENUM:
        case SRI_TYPE_KEYED_ENUM: return Text(Element(r, SRI_GET(r, currentIndex)));
        case SRI_TYPE_INTEGER:
        case SRI_TYPE_KEYED_INTEGER: {
            uint32_t n;
            std::memcpy(&n, Value(r), 4);
            return std::to_string(n);
        }
        case SRI_TYPE_ORDERED_LIST: {
            std::string items;
            for (size_t i = 0; i < SRI_GET(r, elementCount) && Element(r, i) != 0xFFFF; ++i)
                items += (i > 0 ? "," : "") + Text(Element(r, i));
            return items;
        }
        default: return reinterpret_cast<const char*>(Value(r));
        }
    }
    // Edits a record as a host does before committing it.
    void SetText(SRI* r, const std::string& text) {
        std::memset(Value(r), 0, SRI_GET(r, valueSize));
        std::memcpy(Value(r), text.data(), std::min<size_t>(text.size(), SRI_GET(r, valueSize)));
    }
    void SetChoice(SRI* r, const std::string& choice) {
        for (uint16_t i = 0; i < SRI_GET(r, elementCount); ++i)
            if (Text(Element(r, i)) == choice) return SRI_SET(r, currentIndex, i);
        ADD_FAILURE() << "no choice " << choice;
    }
    void SetNumber(SRI* r, uint32_t n) { std::memcpy(Value(r), &n, 4); }
    void SetItems(SRI* r, const std::vector<std::string>& items) {
        for (size_t i = 0; i < items.size(); ++i) {
            uint16_t id = Id(items[i]);
            std::memcpy(Value(r) + 2 * i, &id, 2);
        }
    }

    // The machine's state file.
    Json State() {
        std::ifstream in(root_ / "machine" / "state.json");
        return Json::parse(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    }
    std::string StateText() {
        std::ifstream in(root_ / "machine" / "state.json");
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    // How many calls fault rule `rule` has seen.
    uint32_t Calls(size_t rule) {
        Json counts = State()["fault_counts"];
        return rule < counts.size() ? counts[rule].get<uint32_t>() : 0;
    }
    // Arms fault rule `rule` (whose "nth" is kArmed) to act on a coming matching call, after `through` more
    // of them: the count the machine keeps is set as if kArmed - 1 - through calls had been seen.
    static constexpr uint32_t kArmed = 1000000;
    void Arm(size_t rule, uint32_t through = 0) {
        Json state = State();
        state["fault_counts"][rule] = kArmed - 1 - through;
        std::string path = (root_ / "machine" / "state.json").string();
        std::ofstream(path + ".test") << state.dump(1);
        std::filesystem::permissions(path + ".test",
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        std::rename((path + ".test").c_str(), path.c_str());
        qv::machine::Machine::Open(root_)->StateReplacedOutside();
    }
    std::string DebugOutput() {
        std::ifstream in(debug_output_);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    HMODULE module_ = nullptr;
    WriteExports x_{};
    std::filesystem::path debug_output_;
};

// Scan codes of `count` keys (a password of that length) starting at key `first`: distinct passwords by length
// and start.
inline std::string Keys(size_t count, uint8_t first = 0x10) {
    std::string codes;
    for (size_t i = 0; i < count; ++i) codes += static_cast<char>(first + i % 0x20);
    return codes;
}
inline std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char b : bytes) hex += std::string{digits[b >> 4], digits[b & 15]};
    return hex;
}
