// zmrmc apply, set, defaults and password as an administrator runs them, on fresh system roots with the real
// library, driver and simulated machine.

#include "zmrmc_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <set>

namespace {

class ZmrmcWrite : public ZmrmcCommand {
protected:
    void TearDown() override {
        for (const auto& other : others_) {
            EndRootProcesses(other);
            fs::remove_all(other);
        }
        ZmrmcCommand::TearDown();
    }
    // Another system root: another machine made from the same profile.
    fs::path OtherMachine() {
        char pattern[] = "/tmp/qv-root-XXXXXX";
        EXPECT_NE(mkdtemp(pattern), nullptr);
        others_.emplace_back(pattern);
        return others_.back();
    }
    json Show(const fs::path& root) {
        Outcome show = ZmrmcOn(root, {"show", "--json"});
        EXPECT_EQ(show.code, 0) << show.err;
        return json::parse(show.out);
    }
    // The profile as a file in the root, with `from` replaced by `to`, for this test's machine.
    void UseProfile(const std::string& from, const std::string& to) {
        std::string profile = Contents(SourceTree() + "/platform/machine/profiles/" + machine_ + ".json");
        Write("machine.json", Replaced(profile, from, to));
        machine_ = Path("machine.json");
    }
    std::vector<fs::path> others_;
};

std::string FullName(const json& setting) {
    std::string name = setting["name"];
    if (setting.contains("sub_names"))
        for (const auto& sub : setting["sub_names"]) name += "\\" + sub.get<std::string>();
    return name;
}

// A value `zmrmc set` takes for `setting` that differs from its current one; empty when there is none.
std::string OtherValue(const json& setting) {
    std::string type = setting["type"];
    if (type == "enum" || type == "ext_enum") {
        for (const auto& choice : setting["choices"])
            if (choice != setting["value"]) return choice;
    } else if (type == "int" || type == "ext_int") {
        uint32_t value = setting["value"], low = setting["min"], high = setting["max"];
        if (low == high) return "";
        return std::to_string(value < high ? value + 1 : low);
    } else if (type == "alpha") {
        size_t room = std::min<size_t>(setting["max_length"].get<size_t>(), 8);
        return room == 0 ? "" : std::string("ZMRMC-42").substr(0, room);
    } else if (type == "orderedlist") {
        std::vector<std::string> items;
        for (const auto& item : setting["value"])
            if (item != "--") items.push_back(item);  // an element without a name cannot be named
        if (items.size() < 2) return "";
        return items.back() + "," + items.front();
    }
    return "";
}

// Per shipped profile: save, change a setting of each kind, apply the saved file, save again: the same bytes.
class ZmrmcRoundTrip : public ZmrmcWrite, public ::testing::WithParamInterface<const char*> {};

TEST_P(ZmrmcRoundTrip, ApplyingTheSavedFileGivesTheSameFileBack) {
    machine_ = GetParam();
    ASSERT_EQ(Zmrmc({"save", Path("before.txt")}).code, 0);
    std::set<std::string> kinds_changed;
    std::vector<std::string> changed;
    for (const auto& setting : Show(root_)) {
        std::string type = setting["type"];
        if (setting["read_only"] || kinds_changed.count(type) != 0) continue;
        std::string value = OtherValue(setting);
        if (value.empty()) continue;
        Outcome set = Zmrmc({"set", FullName(setting), value});
        ASSERT_EQ(set.code, 0) << FullName(setting) << " = " << value << "\n" << set.out << set.err;
        EXPECT_NE(set.out.find(FullName(setting)), std::string::npos) << set.out;
        kinds_changed.insert(type);
        changed.push_back(FullName(setting));
    }
    // Every writable kind the machine has: the desktop has them all, the notebook texts, enumerations and its
    // boot order, the native machine one enumeration.
    size_t kinds = machine_ == "desktop" ? 6u : machine_ == "laptop-legacy" ? 3u : 1u;
    EXPECT_EQ(kinds_changed.size(), kinds);
    ASSERT_EQ(Zmrmc({"save", Path("changed.txt")}).code, 0);
    EXPECT_NE(Contents(root_ / "changed.txt"), Contents(root_ / "before.txt"));

    Outcome apply = Zmrmc({"apply", Path("before.txt"), "--json"});
    ASSERT_EQ(apply.code, 0) << apply.out << apply.err;
    json result = json::parse(apply.out);
    EXPECT_EQ(result["not_taken"], json::array());
    EXPECT_EQ(result["skipped"], json::array());
    std::vector<std::string> put_back;
    for (const auto& change : result["changes"]) put_back.push_back(change["setting"]);
    std::sort(put_back.begin(), put_back.end());
    std::sort(changed.begin(), changed.end());
    EXPECT_EQ(put_back, changed);
    ASSERT_EQ(Zmrmc({"save", Path("after.txt")}).code, 0);
    EXPECT_EQ(Contents(root_ / "after.txt"), Contents(root_ / "before.txt"));
}

INSTANTIATE_TEST_SUITE_P(Shipped, ZmrmcRoundTrip, ::testing::Values("desktop", "laptop-legacy", "native-wmi"),
                         [](const auto& profile) {
                             std::string name = profile.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// A file saved on one machine, applied to another of the same model: exactly the settings that differ
// change, and diff listed exactly those beforehand.
TEST_F(ZmrmcWrite, FileFromAnotherMachineChangesExactlyWhatDiffers) {
    ASSERT_EQ(Zmrmc({"save", Path("first.txt")}).code, 0);
    fs::path other = OtherMachine();
    for (const auto& [name, value] :
         std::vector<std::pair<std::string, std::string>>{{"Num Lock State at Power-On", "On"},
                                                          {"POST Delay (in seconds)", "30"},
                                                          {"SATA Port\\SATA 0", "Disable"},
                                                          {"Boot Order", "Hard Drive (C:)"},
                                                          {"Enter Ownership Tag", "Property of nobody"}}) {
        Outcome set = ZmrmcOn(other, {"set", name, value});
        ASSERT_EQ(set.code, 0) << name << ": " << set.err;
    }
    Outcome diff = ZmrmcOn(other, {"diff", Path("first.txt"), "--json"});
    EXPECT_EQ(diff.code, 3) << diff.err;
    Outcome apply = ZmrmcOn(other, {"apply", Path("first.txt"), "--json"});
    EXPECT_EQ(apply.code, 0) << apply.err;
    json listed = json::parse(diff.out), applied = json::parse(apply.out);
    EXPECT_EQ(listed["changes"], applied["changes"]);
    EXPECT_EQ(applied["changes"].size(), 5u) << applied.dump(2);
    EXPECT_EQ(applied["changes"][0],
              json::parse(R"({"setting": "Enter Ownership Tag", "old": "Property of nobody", "new": ""})"));
    ASSERT_EQ(ZmrmcOn(other, {"save", (other / "second.txt").string()}).code, 0);
    EXPECT_EQ(Contents(other / "second.txt"), Contents(root_ / "first.txt"));
    Outcome again = ZmrmcOn(other, {"apply", Path("first.txt")});
    EXPECT_EQ(again.code, 0);
    EXPECT_EQ(again.out, "no setting changed\n");
}

// apply writes what it can, names what it skipped (4) and what did not take its value (5, before 4).
TEST_F(ZmrmcWrite, ApplySaysWhatItSkippedAndWhatDidNotTake) {
    Write("partial.txt",
          "English\r\nTurbo Mode\r\n\t*On\r\nNum Lock State at Power-On\r\n\tOff\r\n\t*On\r\n"
          "POST Delay (in seconds)\r\n\t0\r\n\t60\r\n\tsoon\r\n");
    Outcome partial = Zmrmc({"apply", Path("partial.txt")});
    EXPECT_EQ(partial.code, 4) << partial.err;
    EXPECT_NE(partial.out.find("Num Lock State at Power-On  Off        On"), std::string::npos) << partial.out;
    const std::string f = "zmrmc: " + Path("partial.txt") + ":";
    EXPECT_EQ(partial.err, f + "2: Turbo Mode: no such setting on this machine, skipped (skipped)\n" + f +
                               "10: POST Delay (in seconds): 'soon' is not a number, the value is left as it is "
                               "(skipped)\n");

    // A machine whose firmware ignores object writes: the setting is named, with what it holds.
    UseProfile(R"("name": "desktop",)", R"("name": "desktop", "faults": [{"call": "object.set", "nth": 1,
               "times": 0, "action": "ignore-write"}],)");
    Write("one.txt", "English\r\nSerial Port A\r\n\t*Device hidden\r\n");
    Outcome ignored = ZmrmcOn(OtherMachine(), {"apply", Path("one.txt"), "--json"});
    EXPECT_EQ(ignored.code, 5) << ignored.err;
    json result = json::parse(ignored.out);
    EXPECT_EQ(result["changes"], json::array());
    ASSERT_EQ(result["not_taken"].size(), 1u) << ignored.out;
    EXPECT_EQ(result["not_taken"][0]["setting"], "Serial Port A");
    EXPECT_EQ(result["not_taken"][0]["requested"], "Device hidden");
    EXPECT_EQ(result["not_taken"][0]["reason"],
              "the firmware did not take 'Device hidden' (it holds 'Device available')");
}

// set names the setting and the reason for every value it refuses, and writes nothing then.
TEST_F(ZmrmcWrite, SetRefusesWhatTheSettingCannotHold) {
    ASSERT_EQ(Zmrmc({"save", Path("before.txt")}).code, 0);
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"set", "Turbo Mode", "On"}, 1, "no setting named 'Turbo Mode' on this machine"},
        {{"set", "SATA Port", "Enable"},
         1,
         "'SATA Port' names 2 settings; give one of: SATA Port\\SATA 0, SATA Port\\SATA 1"},
        {{"set", "Serial Port A", "Maybe"},
         1,
         "Serial Port A: 'Maybe' is not one of its choices (Device hidden, Device available)"},
        {{"set", "POST Delay (in seconds)", "61"}, 1, "POST Delay (in seconds): 61 is outside its bounds 0..60"},
        {{"set", "POST Delay (in seconds)", "-1"}, 1, "POST Delay (in seconds): -1 is outside its bounds 0..60"},
        {{"set", "POST Delay (in seconds)", "1O"}, 1, "POST Delay (in seconds): '1O' is not a number"},
        {{"set", "Asset Tracking Number", std::string(17, 'x')},
         1,
         "Asset Tracking Number: the text is 17 characters long; it holds at most 16"},
        {{"set", "Boot Order", "Floppy"}, 1, "Boot Order: 'Floppy' is not one of its elements"},
        {{"set", "Boot Order", "Hard Drive (C:),hard drive (c:)"}, 1, "Boot Order: 'hard drive (c:)' is named twice"},
        {{"set", "ROM Revision", "X"}, 1, "ROM Revision: the setting is read-only"},
        {{"set", "Legacy Devices", "00"}, 1, "Legacy Devices: the setting is read-only"},
        {{"set", "Setup Password", "secret"},
         2,
         "Setup Password: a password is set with zmrmc password, never on the command line"},
        {{"set", "MultiBoot"}, 2, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1]);
        Outcome run = Zmrmc(c.args);
        EXPECT_EQ(run.code, c.code);
        if (!c.err.empty()) {
            EXPECT_EQ(run.err, "zmrmc: " + c.err + "\n");
        }
    }
    ASSERT_EQ(Zmrmc({"save", Path("after.txt")}).code, 0);
    EXPECT_EQ(Contents(root_ / "after.txt"), Contents(root_ / "before.txt"));

    Outcome set = Zmrmc({"set", "serial port a", "device HIDDEN", "--json"});
    EXPECT_EQ(set.code, 0) << set.err;
    EXPECT_EQ(json::parse(set.out)["changes"],
              json::parse(R"([{"setting": "Serial Port A", "old": "Device available", "new": "Device hidden"}])"));
}

TEST_F(ZmrmcWrite, DefaultsRestoreWhatWasChanged) {
    ASSERT_EQ(Zmrmc({"save", Path("factory.txt")}).code, 0);
    ASSERT_EQ(Zmrmc({"set", "POST Delay (in seconds)", "45"}).code, 0);
    ASSERT_EQ(Zmrmc({"set", "Num Lock State at Power-On", "On"}).code, 0);
    Outcome defaults = Zmrmc({"defaults", "--json"});
    ASSERT_EQ(defaults.code, 0) << defaults.err;
    EXPECT_EQ(json::parse(defaults.out)["changes"], json::parse(R"json([
                {"setting": "Num Lock State at Power-On", "old": "On", "new": "Off"},
                {"setting": "POST Delay (in seconds)", "old": "45", "new": "0"}])json"));
    ASSERT_EQ(Zmrmc({"save", Path("restored.txt")}).code, 0);
    EXPECT_EQ(Contents(root_ / "restored.txt"), Contents(root_ / "factory.txt"));
    EXPECT_EQ(Zmrmc({"defaults"}).out, "the factory defaults are restored; no setting changed\n");
}

// With a setup password, writes need it: missing or wrong, nothing is written (6).
TEST_F(ZmrmcWrite, WritesOnALockedMachineNeedTheSetupPassword) {
    UseProfile(R"("setup": "")", R"("setup": "1E30")");
    ASSERT_EQ(Zmrmc({"save", Path("before.txt"), "--password-stdin"}, "ab\n").code, 0);
    Write("wrong.txt", "ba\n");
    Outcome none = Zmrmc({"set", "POST Delay (in seconds)", "5"});
    EXPECT_EQ(none.code, 6);
    EXPECT_NE(none.err.find("zmrmc: a setup password is set; give it with --password-file FILE"), std::string::npos)
        << none.err;
    Outcome wrong = Zmrmc({"--password-file", Path("wrong.txt"), "defaults"});
    EXPECT_EQ(wrong.code, 6);
    EXPECT_EQ(wrong.err, "zmrmc: the setup password does not match (nothing was written)\n");
    Outcome apply = Zmrmc({"apply", Path("before.txt"), "--password-file", Path("wrong.txt")});
    EXPECT_EQ(apply.code, 6);

    Write("right.txt", "<en-US/>ab\n");
    Outcome right = ZmrmcOn(root_, {"set", "POST Delay (in seconds)", "5", "--password-fd", "3"}, "",
                            "3< '" + Path("right.txt") + "'");
    EXPECT_EQ(right.code, 0) << right.err;
    Outcome shown = Zmrmc({"show", "POST Delay (in seconds)", "--json", "--password-stdin"}, "ab\n");
    EXPECT_EQ(json::parse(shown.out)[0]["value"], 5);
}

// The setup password: set, verify, change, each password a line of the source in the order asked.
TEST_F(ZmrmcWrite, SetupPasswordSetVerifyChange) {
    struct Step {
        std::vector<std::string> args;
        std::string input;
        int code;
        std::string out, err;
    };
    const std::vector<Step> steps = {
        {{"password", "setup", "verify"}, "", 1, "", "zmrmc: no setup password is set\n"},
        {{"password", "setup", "change"},
         "ab\ncd\n",
         1,
         "",
         "zmrmc: no setup password is set; use zmrmc password setup set\n"},
        {{"password", "setup", "set"}, "", 1, "", "zmrmc: standard input has no line 1 for the new setup password\n"},
        {{"password", "setup", "set"}, "ab\n", 0, "the setup password is set\n", ""},
        {{"password", "setup", "set"},
         "cd\n",
         1,
         "",
         "zmrmc: a setup password is set already; use zmrmc password setup change\n"},
        {{"password", "setup", "verify"}, "ab\n", 0, "the setup password matches\n", ""},
        {{"password", "setup", "verify"}, "<kbd/>1E30\n", 0, "the setup password matches\n", ""},
        {{"password", "setup", "verify"}, "abc\n", 6, "the setup password does not match\n", ""},
        {{"password", "setup", "change"}, "xy\ncd\n", 6, "", "zmrmc: the current setup password does not match\n"},
        {{"password", "setup", "change"},
         "ab\n",
         1,
         "",
         "zmrmc: standard input has no line 2 for the new setup password\n"},
        {{"password", "setup", "change"},
         "ab\n\n",
         1,
         "",
         "zmrmc: line 2 of standard input (the new setup password) is empty\n"},
        {{"password", "setup", "change"}, "ab\ncd\n", 0, "the setup password is changed\n", ""},
        {{"password", "setup", "verify"}, "ab\n", 6, "the setup password does not match\n", ""},
        {{"password", "setup", "verify"}, "cd\n", 0, "the setup password matches\n", ""},
        {{"password", "setup", "change"},
         "cd\n0123456789abcdef\n",
         6,
         "",
         "zmrmc: the password is too long for this firmware\n"},
        {{"password", "setup", "verify"}, "cd\n", 0, "the setup password matches\n", ""},
        {{"password", "setup", "frobnicate"}, "", 2, "", ""},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.args[2] + " with " + step.input);
        std::vector<std::string> args = step.args;
        if (!step.input.empty() || step.code != 2) args.push_back("--password-stdin");
        Outcome run = Zmrmc(args, step.input.empty() ? std::string() : step.input);
        EXPECT_EQ(run.code, step.code) << run.err;
        EXPECT_EQ(run.out, step.out);
        if (step.code != 2) {
            EXPECT_EQ(run.err, step.err);
        }
    }
}

// The power-on password of the notebook's secure interface; the desktop has none.
TEST_F(ZmrmcWrite, PowerOnPassword) {
    Outcome desktop = Zmrmc({"password", "power-on", "set", "--password-stdin"}, "ab\n");
    EXPECT_EQ(desktop.code, 6);
    EXPECT_EQ(desktop.err, "zmrmc: this machine's firmware does not offer it\n");

    machine_ = "laptop-legacy";
    fs::path notebook = OtherMachine();
    Write("new.txt", "ab\n");
    Write("change.txt", "ab\ncd\n");
    Outcome set = ZmrmcOn(notebook, {"password", "power-on", "set", "--password-file", Path("new.txt")});
    EXPECT_EQ(set.code, 0) << set.err;
    EXPECT_EQ(set.out, "the power-on password is set\n");
    EXPECT_EQ(ZmrmcOn(notebook, {"password", "power-on", "verify", "--password-file", Path("new.txt")}).code, 0);
    EXPECT_EQ(ZmrmcOn(notebook, {"password", "power-on", "change", "--password-file", Path("change.txt")}).code, 0);
    Outcome old = ZmrmcOn(notebook, {"password", "power-on", "verify", "--password-file", Path("new.txt")});
    EXPECT_EQ(old.code, 6);
    EXPECT_EQ(old.out, "the power-on password does not match\n");
    EXPECT_EQ(ZmrmcOn(notebook, {"password", "power-on", "verify", "--password-stdin"}, "cd\n").code, 0);
}

// Without a source, no terminal and no display there is no way to ask: the command says how to give it.
TEST_F(ZmrmcWrite, NoWayToAskForAPassword) {
    Outcome run = Zmrmc({"password", "setup", "set"});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err,
              "zmrmc: give the new setup password with --password-file FILE, --password-fd N or "
              "--password-stdin, or run zmrmc on a terminal or a display to be asked for it\n");
    // A display without the password entry control registered: the reason, and the other ways.
    display_ = "DISPLAY=:97";
    Outcome control = Zmrmc({"password", "setup", "set"});
    EXPECT_EQ(control.code, 1);
    EXPECT_NE(control.err.find("zmrmc: the password entry control cannot ask for the new setup password ("),
              std::string::npos)
        << control.err;
    EXPECT_NE(control.err.find("); give --password-file, --password-fd or --password-stdin\n"), std::string::npos);
}

}  // namespace
