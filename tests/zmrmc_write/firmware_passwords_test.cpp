// The firmware's setup and power-on passwords through the library's exports, its driver and the machine: the
// E845h change with its 15-key limit on the desktop, the secure interface of the notebook (long passwords, or
// the short form where the firmware offers no long ones), the power-on password's set, change and verify.
#include "write_fixture.h"

namespace {

struct Machine {
    const char* name;
    std::function<void(nlohmann::json&)> edit;
};

// The machines of the cases, each with an initial setup password given by the case.
const Machine kDesktop{"desktop", {}};
const Machine kNotebook{"laptop-legacy", {}};
const Machine kShortPasswords{"laptop-legacy", [](nlohmann::json& p) { p["int15"]["e842"]["long_passwords"] = false; }};
const Machine kNoPowerOn{"laptop-legacy", [](nlohmann::json& p) { p["int15"]["e842"]["power_on_feature"] = false; }};

class PasswordTest : public WriteTest {
protected:
    void Start(const Machine& machine, const std::string& setup = "", const std::string& powerOn = "") {
        ASSERT_NO_FATAL_FAILURE(Load(Profile(machine.name, [&](Json& p) {
            if (machine.edit) machine.edit(p);
            p["passwords"] = {{"setup", Hex(setup)}, {"power_on", Hex(powerOn)}};
        })));
    }
    // Whether `codes` is the setup password: it unlocks the system objects (which are locked again).
    bool IsSetupPassword(const std::string& codes) {
        if (!x_.ZmrMCGetIsAPwdSet()) return codes.empty();
        unsigned char status = 0;
        if (!x_.ZmrMCChangeSysObjLockState(codes.c_str(), static_cast<uint16_t>(codes.size()), 0, &status))
            return false;
        x_.ZmrMCChangeSysObjLockState(codes.c_str(), static_cast<uint16_t>(codes.size()), 1, &status);
        return true;
    }
};

struct SetupCase {
    const char* what;
    const Machine* machine;
    std::string before, old, fresh;
    ZmrMCStatus status;
    std::string after;
};

TEST_F(PasswordTest, SetupPasswordChangesTakeTheInterfaceTheMachineHas) {
    const std::string ten = Keys(10), six = Keys(6, 0x11), seven = Keys(7, 0x12), eight = Keys(8, 0x13),
                      twenty = Keys(20, 0x14), long33 = Keys(33);
    const SetupCase cases[] = {
        {"desktop: set one", &kDesktop, "", "", Keys(2), ZMRMC_S_OK, Keys(2)},
        {"desktop: change", &kDesktop, Keys(2), Keys(2), Keys(4, 0x11), ZMRMC_S_OK, Keys(4, 0x11)},
        {"desktop: 10 + 6 keys exceed the E845h call", &kDesktop, ten, ten, six, ZMRMC_E_TOO_LONG, ten},
        {"desktop: a wrong old password does not unlock", &kDesktop, Keys(2), Keys(3), six, ZMRMC_E_UNLOCK_FAILED,
         Keys(2)},
        {"desktop: no old password does not unlock", &kDesktop, Keys(2), "", six, ZMRMC_E_UNLOCK_FAILED, Keys(2)},
        {"desktop: an empty new password clears it", &kDesktop, Keys(2), Keys(2), "", ZMRMC_S_OK, ""},
        {"notebook: 10 + 6 keys through the secure interface", &kNotebook, ten, ten, six, ZMRMC_S_OK, six},
        {"notebook: 20 keys set through the secure interface", &kNotebook, "", "", twenty, ZMRMC_S_OK, twenty},
        {"notebook: 33 keys are too many", &kNotebook, ten, ten, long33, ZMRMC_E_TOO_LONG, ten},
        {"short passwords: 7 keys in EBX and ECX", &kShortPasswords, ten, ten, seven, ZMRMC_S_OK, seven},
        {"short passwords: 8 keys are too many", &kShortPasswords, ten, ten, eight, ZMRMC_E_TOO_LONG, ten},
        {"short passwords: the E845h call when it fits", &kShortPasswords, "", "", eight, ZMRMC_S_OK, eight},
    };
    for (const SetupCase& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        ASSERT_NO_FATAL_FAILURE(Start(*c.machine, c.before));
        EXPECT_EQ(x_.ZmrMCChangeAdminPassword(c.old.empty() ? nullptr : c.old.c_str(), c.fresh.c_str()), c.status);
        EXPECT_EQ(x_.ZmrMCGetIsAPwdSet() != 0, !c.after.empty());
        EXPECT_TRUE(IsSetupPassword(c.after));
        if (!c.after.empty() && c.after != c.before) {
            EXPECT_FALSE(IsSetupPassword(c.before.empty() ? "x" : c.before));
        }
        EXPECT_FALSE(State().value("unlocked", false));  // locked again afterwards
    }
}

TEST_F(PasswordTest, SetAPwdIsAChangeFromNoPassword) {
    ASSERT_NO_FATAL_FAILURE(Start(kDesktop));
    EXPECT_EQ(x_.ZmrMCSetAPwd(Keys(3).c_str()), ZMRMC_S_OK);
    EXPECT_TRUE(IsSetupPassword(Keys(3)));
    EXPECT_EQ(x_.ZmrMCSetAPwd(Keys(4).c_str()), ZMRMC_E_UNLOCK_FAILED);  // one is set now: no old password given
}

TEST_F(PasswordTest, PowerOnPasswordOnTheNotebook) {
    ASSERT_NO_FATAL_FAILURE(Start(kNotebook));
    EXPECT_FALSE(x_.ZmrMCGetIsPowerOnPwdSet());
    EXPECT_TRUE(x_.ZmrMCVerifyPowerOnPassword(""));  // none set: the empty text is right
    EXPECT_TRUE(x_.ZmrMCVerifyPowerOnPassword(nullptr));
    EXPECT_FALSE(x_.ZmrMCVerifyPowerOnPassword(Keys(2).c_str()));

    EXPECT_EQ(x_.ZmrMCSetPowerOnPwd(Keys(2).c_str()), ZMRMC_S_OK);
    EXPECT_TRUE(x_.ZmrMCGetIsPowerOnPwdSet());
    EXPECT_TRUE(x_.ZmrMCVerifyPowerOnPassword(Keys(2).c_str()));
    EXPECT_FALSE(x_.ZmrMCVerifyPowerOnPassword(Keys(3).c_str()));
    EXPECT_FALSE(x_.ZmrMCVerifyPowerOnPassword(""));

    EXPECT_EQ(x_.ZmrMCChangePowerOnPassword(Keys(3).c_str(), Keys(5).c_str()), ZMRMC_E_FIRMWARE + 0x87);
    EXPECT_EQ(x_.ZmrMCChangePowerOnPassword(Keys(2).c_str(), Keys(33).c_str()), ZMRMC_E_TOO_LONG);
    EXPECT_EQ(x_.ZmrMCChangePowerOnPassword(Keys(2).c_str(), Keys(32).c_str()), ZMRMC_S_OK);
    EXPECT_TRUE(x_.ZmrMCVerifyPowerOnPassword(Keys(32).c_str()));
    EXPECT_FALSE(x_.ZmrMCVerifyPowerOnPassword(Keys(2).c_str()));

    // The firmware keeps it across processes: a new driver (and library) finds it.
    ASSERT_NO_FATAL_FAILURE(Reload());
    EXPECT_TRUE(x_.ZmrMCGetIsPowerOnPwdSet());
    EXPECT_TRUE(x_.ZmrMCVerifyPowerOnPassword(Keys(32).c_str()));
}

TEST_F(PasswordTest, PowerOnPasswordNeedsAPortableMachineWithTheFeature) {
    struct Case {
        const Machine* machine;
        ZmrMCStatus mask;  // the status with its low byte (the firmware's code) cleared
    } cases[] = {
        {&kDesktop, ZMRMC_E_FAIL}, {&kNoPowerOn, ZMRMC_E_POWERON_STEP1}, {&kShortPasswords, ZMRMC_E_POWERON_STEP2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.machine->name);
        TearDown();
        SetUp();
        ASSERT_NO_FATAL_FAILURE(Start(*c.machine));
        ZmrMCStatus status = x_.ZmrMCSetPowerOnPwd(Keys(2).c_str());
        EXPECT_EQ(c.mask == ZMRMC_E_FAIL ? status : status & 0xFFFFFF00u, c.mask);
        EXPECT_FALSE(x_.ZmrMCGetIsPowerOnPwdSet());
    }
    TearDown();
    SetUp();
    ASSERT_NO_FATAL_FAILURE(Start(kDesktop));  // not portable: nothing can be verified
    EXPECT_FALSE(x_.ZmrMCVerifyPowerOnPassword(""));
}

// The passwords reach neither the machine's state file nor any debug output, in any form the tests know.
TEST_F(PasswordTest, PasswordsAreNowhereInTheStateOrTheDebugOutput) {
    const std::string setup = Keys(12, 0x11), powerOn = Keys(9, 0x12);
    ASSERT_NO_FATAL_FAILURE(Start(kNotebook));
    ASSERT_EQ(x_.ZmrMCSetAPwd(setup.c_str()), ZMRMC_S_OK);
    ASSERT_EQ(x_.ZmrMCSetPowerOnPwd(powerOn.c_str()), ZMRMC_S_OK);
    ASSERT_TRUE(x_.ZmrMCVerifyPowerOnPassword(powerOn.c_str()));
    EXPECT_EQ(x_.ZmrMCChangeAdminPassword(Keys(12, 0x13).c_str(), Keys(3).c_str()), ZMRMC_E_UNLOCK_FAILED);
    ASSERT_NO_FATAL_FAILURE(Reload());
    std::string state = StateText(), debug = DebugOutput();
    for (const std::string& secret : {setup, powerOn}) {
        EXPECT_EQ(state.find(Hex(secret)), std::string::npos);
        EXPECT_EQ(state.find(secret), std::string::npos);
        EXPECT_EQ(debug.find(Hex(secret)), std::string::npos);
        EXPECT_EQ(debug.find(secret), std::string::npos);
    }
    // What the state holds instead: a salted digest.
    EXPECT_EQ(State()["setup_password"].get<std::string>().size(), 16u + 1 + 40);
}

}  // namespace
