// Committing edited records (BiosSettingsSetItemInfo) through the library, its driver and the machine: every
// type on the desktop's native objects and the notebook's imitated catalogue, what the firmware keeps across
// processes, passwords and locking, and the faults the machine injects (a write it ignores, a read-back that
// fails, an unlock it refuses, the driver killed in the middle of a commit).
#include "write_fixture.h"

#include <map>

namespace {

using Edit = std::function<void(SRI*)>;

struct CommitCase {
    const char* setting;
    std::vector<std::string> key;
    Edit edit;
    bool result;
    std::string shown;  // what a new read shows afterwards; empty: not checked
};

class CommitTest : public WriteTest {
protected:
    Edit Choice(const std::string& choice) {
        return [this, choice](SRI* r) { SetChoice(r, choice); };
    }
    Edit TextValue(const std::string& text) {
        return [this, text](SRI* r) { SetText(r, text); };
    }
    Edit Number(uint32_t n) {
        return [this, n](SRI* r) { SetNumber(r, n); };
    }
    Edit Items(const std::vector<std::string>& items) {
        return [this, items](SRI* r) { SetItems(r, items); };
    }
    static void Unchanged(SRI*) {}

    // Commits one case's edit on a fresh read; returns what the commit printed (the enumeration fragments).
    std::string Commit(const CommitCase& c, const char* password = nullptr) {
        Read(password);
        SRI* record = Record(c.setting, c.key);
        if (record == nullptr) return {};
        c.edit(record);
        testing::internal::CaptureStdout();
        EXPECT_EQ(x_.BiosSettingsSetItemInfo(record, password) != 0, c.result) << c.setting;
        return testing::internal::GetCapturedStdout();
    }
    std::string ShownNow(const CommitCase& c) {
        Read();
        SRI* record = Record(c.setting, c.key);
        return record != nullptr ? Shown(record) : std::string();
    }
    void Run(const std::vector<CommitCase>& cases) {
        for (const CommitCase& c : cases) {
            SCOPED_TRACE(c.setting);
            Commit(c);
            if (!c.shown.empty()) {
                EXPECT_EQ(ShownNow(c), c.shown);
            }
        }
    }
};

std::string EnumerationFragment(const char* status, const std::string& name, const std::string& old,
                                const std::string& fresh) {
    return std::string("<SETTING changeStatus=\"") + status + "\" name=\"" + name + "\">\n\t<OLDVALUE>" + old +
           "</OLDVALUE>\n\t<NEWVALUE>" + fresh + "</NEWVALUE>\n</SETTING>\n";
}

TEST_F(CommitTest, DesktopSettingsOfEveryTypeAreWrittenAndKept) {
    ASSERT_NO_FATAL_FAILURE(Load(Profile("desktop", [](Json& p) {
        // A never-firing rule counts the object writes; an integer as wide as 32 bits.
        p["faults"] = Json::array({{{"call", "object.set"}, {"nth", kArmed}, {"action", "fail"}}});
        p["system_objects"]["objects"].push_back(
            {{"name", "Wide Counter"}, {"type", "int"}, {"path", {"Advanced"}}, {"low", 0}, {"high", "0xFFFFFFFF"}});
        p["system_objects"]["objects"].push_back(
            {{"name", "Service Date"}, {"type", "date"}, {"path", {"Advanced"}}, {"value", "01/01/2006"}});
    })));
    std::vector<CommitCase> cases = {
        {"Num Lock State at Power-On", {}, Choice("On"), true, "On"},
        {"SATA Port", {"SATA 1"}, Choice("Enable"), true, "Enable"},
        {"Asset Tracking Number", {}, TextValue("NEW-TAG   "), true, "NEW-TAG"},  // blanks: the field's padding
        {"Asset Tracking Number", {}, TextValue(std::string(17, 'T')), false, "NEW-TAG"},  // no room for it
        {"Enter Ownership Tag", {}, TextValue("Property of QV Test"), true, "Property of QV Test"},
        {"POST Delay (in seconds)", {}, Number(30), true, "30"},
        {"POST Delay (in seconds)", {}, Number(61), false, "30"},  // above the firmware's bound
        {"Fan Idle Speed", {"CPU Fan"}, Number(55), true, "55"},
        {"Wide Counter", {}, Number(70000), true, "70000"},  // all 32 bits, not the low 16
        {"Wide Counter", {}, Number(0xFFFFFFFF), true, "4294967295"},
        {"Boot Order",
         {},
         Items({"Network Controller Disabled", "Hard Drive (C:)", "IDE CD-ROM Drive", "Diskette Drive (A:)"}),
         true,
         "Network Controller Disabled,Hard Drive (C:),IDE CD-ROM Drive,Diskette Drive (A:)"},
        {"Boot Order", {}, Items({"Hard Drive (C:)", "Hard Drive (C:)"}), false, ""},  // not every item once
        {"Power-On Time", {}, TextValue("07:45"), true, "07:45"},
        {"Power-On Time", {}, TextValue("07:45:00 and more"), false, "07:45"},    // longer than the object
        {"BIOS Release Date", {}, TextValue("01/01/2010"), false, "07/12/2006"},  // read-only
        {"Service Date", {}, TextValue("12/31/2009"), true, "12/31/2009"},        // a date is written as a time
        {"Service Date", {}, TextValue("12/31/2009 23:59"), false, "12/31/2009"},
        {"Legacy Devices", {}, Unchanged, false, ""},                 // read-only by name
        {"Processor Cache", {}, Choice("Disable"), false, "Enable"},  // writable by name, refused by the firmware
    };
    Run(cases);

    // An unchanged enumeration is not written at all.
    uint32_t writes = Calls(0);
    Commit({"Num Lock State at Power-On", {}, Choice("On"), true, ""});
    EXPECT_EQ(Calls(0), writes);

    // The firmware kept everything: a new driver process reads what each setting was left with.
    ASSERT_NO_FATAL_FAILURE(Reload());
    std::map<std::string, const CommitCase*> last;
    for (const CommitCase& c : cases)
        if (!c.shown.empty()) last[c.setting + (c.key.empty() ? "" : "\\" + c.key[0])] = &c;
    for (const auto& [name, c] : last) EXPECT_EQ(ShownNow(*c), c->shown) << name;
}

TEST_F(CommitTest, EnumerationCommitsPrintTheirFragment) {
    ASSERT_NO_FATAL_FAILURE(Load("desktop"));
    EXPECT_EQ(Commit({"Num Lock State at Power-On", {}, Choice("On"), true, ""}),
              EnumerationFragment("pass", "Num Lock State at Power-On", "Off", "On"));
    EXPECT_EQ(Commit({"SATA Port", {"SATA 0"}, Choice("Disable"), true, ""}),
              EnumerationFragment("pass", "SATA Port\\SATA 0", "Enable", "Disable"));
    EXPECT_EQ(Commit({"Processor Cache", {}, Choice("Disable"), false, ""}),
              EnumerationFragment("fail", "Processor Cache", "Enable", "Disable"));
    EXPECT_EQ(Commit({"MultiBoot", {}, Choice("Enable"), true, ""}), "");  // the current value: nothing to write
}

TEST_F(CommitTest, PasswordSettingsChangeThroughThePasswordFunctions) {
    ASSERT_NO_FATAL_FAILURE(Load("desktop"));
    // A plain text is no new password; a tagged one is, and the record no longer holds it afterwards.
    Commit({"Setup Password", {}, TextValue("abc"), false, ""});
    EXPECT_FALSE(x_.ZmrMCGetIsAPwdSet());
    Read();
    SRI* setup = Record("Setup Password");
    ASSERT_NE(setup, nullptr);
    SetText(setup, "<kbd/>1E30");
    EXPECT_TRUE(x_.BiosSettingsSetItemInfo(setup, nullptr));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(Value(setup)), SRI_GET(setup, valueSize)),
              std::string(SRI_GET(setup, valueSize), '\0'));
    EXPECT_TRUE(x_.ZmrMCGetIsAPwdSet());

    // Read back it is the firmware's digest; committing that unchanged record does nothing.
    Read("\x1E\x30");
    setup = Record("Setup Password");
    std::string shown = Shown(setup);
    EXPECT_EQ(shown.size(), 6u + 40 + 7);
    EXPECT_EQ(shown.substr(0, 6), "<SHA1>");
    EXPECT_FALSE(x_.BiosSettingsSetItemInfo(setup, "<kbd/>1E30"));

    // Locked: a commit with a wrong password is refused, with the right one (tagged) it passes.
    EXPECT_EQ(Commit({"Num Lock State at Power-On", {}, Choice("On"), false, ""}, "<kbd/>1E31"),
              EnumerationFragment("fail", "Num Lock State at Power-On", "Off", "On"));
    Commit({"Num Lock State at Power-On", {}, Choice("On"), true, ""}, "<kbd/>1E30");
    EXPECT_EQ(ShownNow({"Num Lock State at Power-On", {}, Unchanged, true, ""}), "On");
    EXPECT_FALSE(State()["unlocked"].get<bool>());

    // Changed with the old one, then the new one unlocks; the power-on password needs a portable machine.
    Commit({"Setup Password", {}, TextValue("<en-US/>cd"), true, ""}, "<kbd/>1E30");
    unsigned char status = 0;
    EXPECT_TRUE(x_.ZmrMCChangeSysObjLockState("\x2E\x20", 2, 0, &status));
    x_.ZmrMCChangeSysObjLockState("\x2E\x20", 2, 1, &status);
    Commit({"Power-On Password", {}, TextValue("<kbd/>1E"), false, ""}, "<en-US/>cd");
}

TEST_F(CommitTest, NotebookCatalogueSettingsAreWrittenThroughTheirFirmwareCalls) {
    ASSERT_NO_FATAL_FAILURE(Load("laptop-legacy"));
    std::vector<CommitCase> cases = {
        {"Serial Port", {}, Choice("Device hidden"), true, "Device hidden"},       // E845h setting
        {"Touch Pad", {}, Choice("Enable"), true, "Enable"},                       // a bit shared with...
        {"Pointing Stick", {}, Unchanged, true, "Disable"},                        // ...this one, untouched
        {"Password Prompt on Warm Boot", {}, Choice("Disable"), true, "Disable"},  // E842h security bits
        {"Asset Tracking Number", {}, TextValue("NB-0099"), true, "NB-0099"},      // E845h string
        // longer than the tag's read gives back (and than the tag packet holds): nothing of it is written
        {"Asset Tracking Number", {}, TextValue("NB-0099-0123456789"), false, "NB-0099"},
        {"Asset Tracking Number", {}, TextValue("NB-0099-012345678"), true, "NB-0099-012345678"},  // 17 fit
        {"Asset Tracking Number", {}, TextValue("NB-0099"), true, "NB-0099"},
        {"Boot Order", {}, Items({"Hard Drive (C:)", "USB Floppy"}), true, ""},  // Plug and Play
    };
    Run(cases);
    Read();
    SRI* order = Record("Boot Order");
    ASSERT_NE(order, nullptr);
    EXPECT_EQ(Text(Element(order, 0)), "Hard Drive (C:)");
    EXPECT_EQ(Text(Element(order, 1)), "USB Floppy");

    // With a setup password the security bits' write carries it.
    Commit({"Setup Password", {}, TextValue("<kbd/>1E30"), true, ""});
    EXPECT_TRUE(x_.ZmrMCGetIsAPwdSet());
    Commit({"Password Prompt on Warm Boot", {}, Choice("Enable"), false, "Disable"}, "<kbd/>1E31");
    Commit({"Password Prompt on Warm Boot", {}, Choice("Enable"), true, ""}, "<kbd/>1E30");
    EXPECT_EQ(ShownNow({"Password Prompt on Warm Boot", {}, Unchanged, true, ""}), "Enable");
}

// The machine's injected faults, each armed for the commit's own call.
class CommitFaultTest : public CommitTest {
protected:
    enum Rule : size_t { kIgnoreWrite, kFailValue, kRefuseUnlock, kKillOnWrite };
    void SetUp() override {
        CommitTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(Load(Profile("desktop", [](Json& p) {
            p["passwords"]["setup"] = "1E30";
            p["faults"] = Json::array({
                {{"call", "object.set"}, {"nth", kArmed}, {"action", "ignore-write"}},
                {{"call", "object.value"}, {"nth", kArmed}, {"action", "fail"}},
                {{"call", "object.unlock"}, {"nth", kArmed}, {"action", "status"}, {"status", "0x87"}},
                {{"call", "object.set"}, {"nth", kArmed}, {"action", "kill"}},
            });
        })));
    }
    const CommitCase numLock_{"Num Lock State at Power-On", {}, Choice("On"), false, "Off"};
};

TEST_F(CommitFaultTest, AWriteTheFirmwareIgnoresFailsTheCommit) {
    Read("\x1E\x30");
    Arm(kIgnoreWrite);
    SRI* record = Record(numLock_.setting);
    SetChoice(record, "On");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(x_.BiosSettingsSetItemInfo(record, "<kbd/>1E30"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              EnumerationFragment("fail", "Num Lock State at Power-On", "Off", "On"));
    EXPECT_EQ(ShownNow(numLock_), "Off");
}

TEST_F(CommitFaultTest, AReadBackThatFailsFailsTheCommit) {
    Read("\x1E\x30");
    Arm(kFailValue, 1);  // the commit's first value read passes, its read-back fails
    SRI* record = Record(numLock_.setting);
    SetChoice(record, "On");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(x_.BiosSettingsSetItemInfo(record, "<kbd/>1E30"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              EnumerationFragment("fail", "Num Lock State at Power-On", "Off", "On"));
    EXPECT_EQ(ShownNow(numLock_), "On");  // the write itself went through
}

TEST_F(CommitFaultTest, AnUnlockTheFirmwareRefusesLeavesTheSettingAlone) {
    Read("\x1E\x30");
    Arm(kRefuseUnlock);
    SRI* record = Record(numLock_.setting);
    SetChoice(record, "On");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(x_.BiosSettingsSetItemInfo(record, "<kbd/>1E30"));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(ShownNow(numLock_), "Off");
    EXPECT_FALSE(State()["unlocked"].get<bool>());
}

TEST_F(CommitFaultTest, TheDriverKilledInTheMiddleOfACommitLeavesTheFirmwareWhole) {
    Read("\x1E\x30");
    Arm(kKillOnWrite);
    SRI* record = Record(numLock_.setting);
    SetChoice(record, "On");
    testing::internal::CaptureStdout();
    bool committed = x_.BiosSettingsSetItemInfo(record, "<kbd/>1E30") != 0;  // answers, never hangs
    testing::internal::GetCapturedStdout();
    // A new driver: the setting is what the answer said, and the firmware is not left unlocked although the
    // killed driver never locked it again.
    ASSERT_NO_FATAL_FAILURE(Reload());
    EXPECT_EQ(ShownNow(numLock_), committed ? "On" : "Off");
    Read();
    uint16_t index = SRI_GET(Record(numLock_.setting), objectIndex);
    uint8_t value[10] = {};
    EXPECT_TRUE(x_.ZmrMCGetSysObjValue(index, value, sizeof value));
    value[2] = 1;
    EXPECT_FALSE(x_.ZmrMCSetSysObjValue(index, value, sizeof value));  // locked: the write needs an unlock
}

}  // namespace
