// Malformed machine files: a profile or state that is not valid JSON, has members of the wrong kind, or sizes
// the firmware's structures cannot hold is refused with a message naming the file, the member and the reason;
// nothing aborts and nothing half-made is left. Profile texts reach the firmware as Windows-1252.

#include "machine_fixture.h"
#include "profile.h"
#include "qv_root_processes.h"
#include "windows.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <map>

namespace fs = std::filesystem;
using qv::machine::Bytes;
using qv::machine::Firmware;
using Json = nlohmann::json;

namespace {

// A profile of one setting whose choices are "C0", "C1", ...
std::string ManyChoices(size_t count, const char* type = "enum") {
    Json choices = Json::array();
    for (size_t i = 0; i < count; ++i) choices.push_back("C" + std::to_string(i));
    return Json{{"system_objects", {{"objects", {{{"name", "Wide"}, {"type", type}, {"choices", choices}}}}}}}.dump();
}

// A profile of `objects` settings of `choices` choices each, all texts different.
std::string ManyTexts(size_t objects, size_t choices) {
    Json list = Json::array();
    for (size_t o = 0; o < objects; ++o) {
        Json c = Json::array();
        for (size_t i = 0; i < choices; ++i) c.push_back(std::to_string(o) + "." + std::to_string(i));
        list.push_back({{"name", "S" + std::to_string(o)}, {"choices", c}});
    }
    return Json{{"system_objects", {{"objects", list}}}}.dump();
}

std::string ManySmbiosStructures(size_t count) {
    Json list = Json::array();
    for (size_t i = 0; i < count; ++i) list.push_back({{"type", 1}, {"fields", Json(std::vector<int>(250, 7))}});
    return Json{{"smbios", {{"structures", list}}}}.dump();
}

std::string ManyObjects(size_t count) {
    Json list = Json::array();
    for (size_t i = 0; i < count; ++i) list.push_back({{"name", "N"}, {"type", "int"}});
    return Json{{"system_objects", {{"objects", list}}}}.dump();
}

struct FileFault {
    const char* what;
    std::function<std::string()> text;
    const char* field;   // empty: the file as a whole
    const char* reason;  // a part of the reason
};

const FileFault kProfileFaults[] = {
    {"not JSON", [] { return std::string(R"({"name": )"); }, "", "not valid JSON"},
    {"not an object", [] { return std::string("[1]"); }, "", "must be a JSON object"},
    {"a text for a number", [] { return std::string(R"({"windows": {"major": "five"}})"); }, "windows.major",
     "\"five\" is not a number"},
    {"a number too large", [] { return std::string(R"({"system_id": 70000})"); }, "system_id",
     "70000 is larger than 65535"},
    {"a list entry that is no object", [] { return std::string(R"({"system_objects": {"objects": [5]}})"); },
     "system_objects.objects[0]", "must be an object"},
    {"odd hexadecimal digits", [] { return std::string(R"({"passwords": {"setup": "1E3"}})"); }, "passwords.setup",
     "even number"},
    {"a character Windows-1252 lacks",
     [] { return std::string(R"({"system_objects": {"objects": [{"name": "Boot \u4E2D", "choices": ["A"]}]}})"); },
     "system_objects.objects[0].name", "U+4E2D"},
    {"a NUL in a text",
     [] { return std::string(R"({"system_objects": {"objects": [{"name": "N", "choices": ["A\u0000B"]}]}})"); },
     "system_objects.objects[0].choices[0]", "NUL"},
    {"70 000 choices", [] { return ManyChoices(70000); }, "system_objects.objects[0].choices",
     "70000 choices take 140006 bytes"},
    {"an ordered list too long", [] { return ManyChoices(40000, "orderedlist"); }, "system_objects.objects[0].choices",
     "at most 65535"},
    {"a binary value too long",
     [] {
         return Json{{"system_objects",
                      {{"objects", {{{"name", "B"}, {"type", "binary"}, {"value", std::string(140000, 'A')}}}}}}}
             .dump();
     },
     "system_objects.objects[0].value", "at most 65535"},
    {"more objects than the count holds", [] { return ManyObjects(65536); }, "system_objects.objects",
     "counts at most 65535"},
    {"more texts than string IDs", [] { return ManyTexts(3, 30000); }, "system_objects",
     "string IDs name at most 65535"},
    {"a string table too long", [] { return ManyTexts(1, 10000); }, "system_objects.languages[0]",
     "string table of English takes"},
    {"an SMBIOS table too long", [] { return ManySmbiosStructures(300); }, "smbios.structures", "at most 65535"},
    {"an asset tag too long",
     [] { return std::string(R"({"int15": {"e845": {"strings": {"0x25": "ABCDEFGHIJKLMNOPQRSTU"}}}})"); },
     "int15.e845.strings.0x25", "at most 17 characters"},
    {"a boot device that does not exist",
     [] { return std::string(R"({"pnp": {"ipl": [{"description": "HDD"}], "priority": [3]}})"); }, "pnp.priority[0]",
     "names no boot device"},
    {"a bad EISA identifier",
     [] { return std::string(R"({"pnp": {"nodes": [{"id": "PNPXYZ1", "class": [1, 2, 3]}]}})"); }, "pnp.nodes[0].id",
     "EISA"},
    {"a kept flash block beyond the part", [] { return std::string(R"({"flash": {"kept_block": 64}})"); },
     "flash.kept_block", "the part has 64 blocks"},
    {"a failing flash block's status without the block",
     [] { return std::string(R"({"flash": {"failing_block": {"status": 19}}})"); }, "flash.failing_block.status",
     "needs \"block\""},
};

// Changes of the desktop machine's state (parsed JSON, index of its first enumeration, ordered list and text).
struct StateFault {
    const char* what;
    std::function<void(std::string& text, Json& state, const std::map<std::string, std::string>& at)> change;
    std::string field;  // @enum@, @list@, @text@ and @e845@ stand for the members the fixture finds
    const char* reason;
};

const StateFault kStateFaults[] = {
    {"not JSON", [](std::string& text, Json&, const auto&) { text = R"({"e845": )"; }, "", "not valid JSON"},
    {"a member missing", [](std::string&, Json& s, const auto&) { s.erase("strings"); }, "strings", "is missing"},
    {"a text for a setting", [](std::string&, Json& s, const auto& at) { s["e845"][at.at("e845")] = "x"; },
     "e845.@e845@", "must be a number"},
    {"a setting beyond a byte", [](std::string&, Json& s, const auto& at) { s["e845"][at.at("e845")] = 300; },
     "e845.@e845@", "300 is larger than 255"},
    {"a choice that does not exist", [](std::string&, Json& s, const auto& at) { s["objects"][at.at("enum")] = 99; },
     "objects.@enum@", "names no choice"},
    {"an ordered list with an item twice",
     [](std::string&, Json& s, const auto& at) {
         Json& list = s["objects"][at.at("list")];
         list[1] = list[0];
     },
     "objects.@list@[1]", "lists an item twice"},
    {"a text longer than the value buffer",
     [](std::string&, Json& s, const auto& at) { s["objects"][at.at("text")] = std::string(2000, 'x'); },
     "objects.@text@", "longer than"},
    {"an object missing", [](std::string&, Json& s, const auto& at) { s["objects"].erase(at.at("enum")); },
     "objects.@enum@", "is missing"},
    {"a character Windows-1252 lacks",
     [](std::string&, Json& s, const auto& at) { s["objects"][at.at("text")] = "\xE4\xB8\xAD"; }, "objects.@text@",
     "U+4E2D"},
    {"a password that is no hexadecimal text", [](std::string&, Json& s, const auto&) { s["setup_password"] = 12; },
     "setup_password", "hexadecimal"},
    {"a lock state that is no boolean", [](std::string&, Json& s, const auto&) { s["unlocked"] = "yes"; }, "unlocked",
     "true or false"},
    {"a power state that is no boolean", [](std::string&, Json& s, const auto&) { s["powered_off"] = 1; },
     "powered_off", "true or false"},
    {"a negative count of flash block writes",
     [](std::string&, Json& s, const auto&) { s["flash_blocks_written"] = -1; }, "flash_blocks_written", "a count"},
};

std::string Replace(std::string text, const std::map<std::string, std::string>& at) {
    for (const auto& [name, value] : at) {
        std::string mark = "@" + name + "@";
        for (size_t p; (p = text.find(mark)) != std::string::npos;) text.replace(p, mark.size(), value);
    }
    return text;
}

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class MachineFilesTest : public MachineTest {
protected:
    // Opens the root's machine, collecting what it reports.
    std::shared_ptr<qv::machine::Machine> Open() {
        return qv::machine::Machine::Open(root_, [this](const std::string& m) { reports_.push_back(m); });
    }
    // The members of the desktop state the cases change: an enumeration, an ordered list, a text and an E845h
    // setting.
    std::map<std::string, std::string> DesktopMembers() {
        qv::machine::Profile p = qv::machine::ParseProfile(qv::machine::ShippedProfile("desktop"), "desktop");
        std::map<std::string, std::string> at;
        for (size_t i = 0; i < p.objects.size(); ++i) {
            std::string index = std::to_string(p.languages.size() + i);
            using T = qv::machine::ObjectType;
            if (p.objects[i].type == T::Enum) at.emplace("enum", index);
            if (p.objects[i].type == T::OrderedList) at.emplace("list", index);
            if (p.objects[i].type == T::Text) at.emplace("text", index);
        }
        at["e845"] = std::to_string(p.e845Settings.begin()->first);
        return at;
    }
    std::vector<std::string> reports_;
};

TEST_F(MachineFilesTest, MalformedProfilesAreRefusedAndLeaveNothing) {
    for (const auto& c : kProfileFaults) {
        SCOPED_TRACE(c.what);
        reports_.clear();
        std::string file = WriteProfile(c.text());
        setenv("QV_MACHINE", file.c_str(), 1);
        std::string message;
        try {
            Open();
            ADD_FAILURE() << "accepted";
        } catch (const qv::machine::MachineNotMade& e) {
            message = e.what();
        }
        std::string named = file + ": " + (*c.field ? std::string(c.field) + ": " : "");
        EXPECT_NE(message.find("machine profile " + named), std::string::npos) << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        EXPECT_EQ(reports_, std::vector<std::string>{message});
        for (const char* made : {"profile.json", "state.json", "flash.bin"})
            EXPECT_FALSE(fs::exists(root_ / "machine" / made)) << made;
        for (const auto& entry : fs::directory_iterator(root_ / "machine"))
            EXPECT_TRUE(entry.path().filename() == "lock") << entry.path();
    }
}

TEST_F(MachineFilesTest, MalformedStatesFailEveryCallAndAreLeftAlone) {
    const auto at = DesktopMembers();
    setenv("QV_MACHINE", "desktop", 1);
    Open();
    const fs::path statePath = root_ / "machine" / "state.json";
    const std::string good = Slurp(statePath);
    for (const auto& c : kStateFaults) {
        SCOPED_TRACE(c.what);
        std::string text = good;
        Json state = Json::parse(good);
        c.change(text, state, at);
        if (text == good) text = state.dump(1);
        std::ofstream(statePath, std::ios::trunc) << text;
        reports_.clear();
        auto machine = Open();  // the profile is fine: the machine opens, its calls fail
        for (int call = 0; call < 2; ++call) {
            bool ran = false;
            try {
                machine->Transact([&](Firmware&) { ran = true; });
                ADD_FAILURE() << "a call reached the firmware";
            } catch (const qv::machine::MachineUnavailable& e) {
                std::string message = e.what();
                std::string named = statePath.string() + ": " + (c.field.empty() ? "" : Replace(c.field, at) + ": ");
                EXPECT_NE(message.find("machine state " + named), std::string::npos) << message;
                EXPECT_NE(message.find(c.reason), std::string::npos) << message;
            }
            EXPECT_FALSE(ran);
        }
        EXPECT_EQ(reports_.size(), 1u);  // once, not for every call
        EXPECT_EQ(Slurp(statePath), text);
    }
    std::ofstream(statePath, std::ios::trunc) << good;
    EXPECT_NO_THROW(Open()->Transact([](Firmware&) {}));  // a repaired state is used again
}

// The firmware sees Windows-1252 bytes: a profile's UTF-8 "é" is E9h in the string table, a text written by a
// caller as E9h reads back as E9h, and the state file keeps it as UTF-8.
TEST_F(MachineFilesTest, TextsReachTheFirmwareAsWindows1252) {
    auto machine = Use(WriteProfile(R"({"system_objects": {"objects": [
        {"name": "Démarrage", "choices": ["Activé", "Désactivé"]},
        {"name": "Propriétaire", "type": "text", "max_length": 20, "value": "Zoë"}]},
        "int15": {"e845": {"strings": {"0x44": "Modèle €"}}}})"));
    machine->Transact([](Firmware& f) {
        qv::machine::CallOutcome o;
        Bytes table;
        ASSERT_EQ(f.ObjectValue(0, table, o), 0);
        std::string texts(table.begin(), table.end());
        for (const char* ansi : {"D\xE9marrage", "Activ\xE9", "D\xE9sactiv\xE9", "Propri\xE9taire"})
            EXPECT_NE(texts.find(ansi), std::string::npos) << ansi;
        Bytes text;
        ASSERT_EQ(f.ObjectValue(2, text, o), 0);
        EXPECT_EQ(std::string(text.begin() + 2, text.begin() + 5), "Zo\xEB");
        Bytes value(text.size(), 0);
        value[0] = text[0], value[1] = text[1];
        std::memcpy(value.data() + 2, "Ren\xE9", 4);
        EXPECT_EQ(f.SetObjectValue(2, value, o), 0);
        FlatMemory memory;
        qv::machine::Registers r;
        r.eax = 0xE845, r.ecx = 0x44, r.ebx = 0;
        Bytes product(258, 0);
        f.Int15(r, &product, memory, true);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(product.data())), "Mod\xE8le \x80");
    });
    Json state = Json::parse(Slurp(root_ / "machine" / "state.json"));
    EXPECT_EQ(state["objects"]["2"], "René");
    qv::win::ResetRootMachineForTesting();
    qv::win::RootMachine()->Transact([](Firmware& f) {
        qv::machine::CallOutcome o;
        Bytes text;
        ASSERT_EQ(f.ObjectValue(2, text, o), 0);
        EXPECT_EQ(std::string(text.begin() + 2, text.begin() + 6), "Ren\xE9");
    });
}

// The process that was to make the machine ends with a non-zero code; in the program's own terms: the
// installer fails, says why on standard error and the debugger output, and installs nothing.
TEST_F(MachineFilesTest, TheProgramThatMakesARootFromABadProfileFails) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    setenv("QV_MACHINE", WriteProfile(R"({"windows": {"major": "five"}})").c_str(), 1);
    EXPECT_EXIT(qv::win::RootMachine(), testing::ExitedWithCode(qv::win::kNoMachineExitCode),
                "windows.major: \"five\" is not a number");

    ProgramRun install = RunOnRoot("vrxBIOS", {"-Install", "-Silent"}, root_);
    EXPECT_EQ(install.code, qv::win::kNoMachineExitCode) << install.output;
    std::string expected = std::string("machine profile ") + std::getenv("QV_MACHINE") +
                           ": windows.major: \"five\" is not a number";
    EXPECT_NE(install.output.find(expected), std::string::npos) << install.output;
    EXPECT_NE(install.debug.find(expected), std::string::npos) << install.debug;
    EXPECT_FALSE(fs::exists(root_ / "machine" / "profile.json"));
    EXPECT_FALSE(fs::exists(root_ / "drive_c/WINDOWS/system32/wbem/Repository/repository.db"));
}

// A machine whose state went bad under a running installation: the service's requests fail, the service and
// the provider go on (no abort), and the fault is in the debugger output once per process.
TEST_F(MachineFilesTest, ABadStateFailsRequestsWithoutEndingTheService) {
    setenv("QV_MACHINE", "desktop", 1);
    ASSERT_EQ(RunOnRoot("vrxBIOS", {"-Install", "-Silent"}, root_).code, 0);
    ASSERT_EQ(RunOnRoot("wmi", {"-n", "root\\WMI", "query", "SELECT * FROM MSSmBios_RawSMBiosTables"}, root_).code, 0);
    std::vector<pid_t> service = RootProcesses(root_, BuildTree() + "/bin/winmgmt");
    ASSERT_EQ(service.size(), 1u);

    const auto at = DesktopMembers();
    Json state = Json::parse(Slurp(root_ / "machine" / "state.json"));
    state["objects"][at.at("enum")] = 99;
    std::ofstream(root_ / "machine" / "state.json", std::ios::trunc) << state.dump(1);
    qv::machine::Machine::Open(root_)->StateReplacedOutside();
    ProgramRun smbios = RunOnRoot("wmi", {"-n", "root\\WMI", "query", "SELECT * FROM MSSmBios_RawSMBiosTables"}, root_);
    EXPECT_NE(smbios.code, 0) << smbios.output;
    EXPECT_EQ(smbios.output.find("RPC_E_DISCONNECTED"), std::string::npos) << smbios.output;
    RunOnRoot("wmi", {"query", "SELECT Name FROM QVPROV_BIOSEnumeration"}, root_);
    EXPECT_TRUE(ProcessAlive(service[0]));
    // The service's debugger output is the one its first client had.
    std::string debug = Slurp(root_.string() + "-vrxBIOS.debug") + Slurp(root_.string() + "-wmi.debug");
    std::string expected = "machine state " + (root_ / "machine" / "state.json").string() + ": objects." +
                           at.at("enum") + ": names no choice";
    EXPECT_NE(debug.find(expected), std::string::npos) << debug;
}

}  // namespace
