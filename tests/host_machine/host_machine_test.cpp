// The host machine (QV_MACHINE=host) on firmware-attributes trees shaped as three makers' kernel drivers
// publish them: zmrmc, its library, the driver and the host firmware on a fresh system root. What the tree
// refuses comes back as refused and leaves current_value as it was.

#include "../zmrmc_tool/zmrmc_fixture.h"
#include "firmware_attributes_tree.h"
#include "smbios_tables.h"

#include <gtest/gtest.h>

#include <set>

namespace {

class HostMachine : public ZmrmcCommand {
protected:
    void SetUp() override {
        ZmrmcCommand::SetUp();
        tree_ = root_.parent_path() / (root_.filename().string() + "-tree");
        fs::create_directories(tree_);
        setenv("QV_FIRMWARE_ATTRIBUTES", tree_.c_str(), 1);
        setenv("QV_DMI_TABLES", (tree_ / "no-dmi").c_str(), 1);
        machine_ = "host";
    }
    void TearDown() override {
        ZmrmcCommand::TearDown();
        unsetenv("QV_FIRMWARE_ATTRIBUTES");
        unsetenv("QV_DMI_TABLES");
        fs::remove_all(tree_);
    }
    json Show() {
        Outcome show = Zmrmc({"show", "--json"});
        EXPECT_EQ(show.code, 0) << show.err;
        return show.code == 0 ? json::parse(show.out) : json::array();
    }
    static const json* Find(const json& settings, const std::string& name) {
        for (const auto& s : settings)
            if (s["name"] == name) return &s;
        return nullptr;
    }
    fs::path Value(const std::string& driver, const std::string& attribute) {
        return tree_ / driver / "attributes" / attribute / "current_value";
    }
    fs::path tree_;
};

// Every attribute kind of each maker's driver is published with its type, value and constraints, and a change
// of each kind lands in current_value.
class HostMakers : public HostMachine, public ::testing::WithParamInterface<int> {};

tree::Driver MakerDriver(int maker) { return maker == 0 ? tree::Dell() : maker == 1 ? tree::Lenovo() : tree::Hp(); }

TEST_P(HostMakers, PublishesEveryAttributeAndChangesIt) {
    tree::Driver driver = MakerDriver(GetParam());
    tree::Write(tree_, driver);
    json settings = Show();
    for (const tree::Attribute& a : driver.attributes) {
        const json* s = Find(settings, a.display);
        ASSERT_NE(s, nullptr) << a.display << " in " << settings.dump(1);
        EXPECT_EQ((*s)["path"], json::array({driver.name})) << s->dump();
        if (a.type == "enumeration") {
            EXPECT_EQ((*s)["type"], "enum");
            EXPECT_EQ((*s)["value"], a.current);
            std::vector<std::string> choices;
            for (const auto& c : (*s)["choices"]) choices.push_back(c);
            std::string listed;
            for (const auto& c : choices) listed += c + ";";
            EXPECT_EQ(listed.substr(0, listed.size() - 1), a.files.at("possible_values").substr(0, listed.size() - 1));
        } else if (a.type == "integer") {
            EXPECT_EQ((*s)["type"], "int");
            EXPECT_EQ((*s)["value"], std::stoul(a.current));
            EXPECT_EQ((*s)["min"], std::stoul(a.files.at("min_value")));
            EXPECT_EQ((*s)["max"], std::stoul(a.files.at("max_value")));
        } else if (a.type == "string") {
            EXPECT_EQ((*s)["type"], "alpha");
            EXPECT_EQ((*s)["value"], a.current);
            EXPECT_EQ((*s)["max_length"], std::stoul(a.files.at("max_length")));
        } else {
            EXPECT_EQ((*s)["type"], "orderedlist");
            EXPECT_EQ((*s)["value"], json::array({"HDD", "USB", "Network"}));
        }
        EXPECT_EQ((*s)["read_only"], false) << a.display;
    }
    const json* pending = Find(settings, "Pending Reboot");
    ASSERT_NE(pending, nullptr);
    EXPECT_EQ((*pending)["read_only"], true);
    EXPECT_EQ((*pending)["value"], "No");
    EXPECT_NE(Find(settings, "Setup Password"), nullptr);
    EXPECT_NE(Find(settings, "Power-On Password"), nullptr);

    // One change of each kind: the kernel's text in current_value.
    for (const tree::Attribute& a : driver.attributes) {
        std::string value, expected;
        if (a.type == "enumeration") {
            const json& choices = (*Find(settings, a.display))["choices"];
            value = expected = choices[choices[0] == a.current ? 1 : 0];
        } else if (a.type == "integer") {
            value = expected = std::to_string(std::stoul(a.current) + std::stoul(a.files.at("scalar_increment")));
        } else if (a.type == "string") {
            value = expected = std::string("ZZ-").append(a.current.size() - 3, '9');
        } else {
            value = "Network,HDD,USB";
            expected = "Network;HDD;USB";
        }
        Outcome set = Zmrmc({"set", a.display, value});
        EXPECT_EQ(set.code, 0) << a.display << " = " << value << "\n" << set.out << set.err;
        EXPECT_EQ(tree::Get(Value(driver.name, a.name)), expected) << a.display;
    }
}

INSTANTIATE_TEST_SUITE_P(Makers, HostMakers, ::testing::Values(0, 1, 2), [](const auto& maker) {
    return std::string(maker.param == 0 ? "Dell" : maker.param == 1 ? "Lenovo" : "Hp");
});

// What the tree (or the kernel behind it) refuses is refused, reported as not changed, and leaves the value.
TEST_F(HostMachine, RefusesWhatTheTreeRefuses) {
    tree::Driver dell = tree::Dell();
    dell.attributes.push_back({"KernelRefuses", "string", "Kernel Refuses", "", {{"max_length", "8"}}});
    dell.attributes.push_back({"OldMode", "enumeration", "Old Mode", "Legacy", {{"possible_values", "UEFI;Hybrid"}}});
    tree::Write(tree_, dell);
    // A kernel attribute that refuses what it is given: the process's own oom_score_adj takes only numbers.
    fs::path refusing = Value(dell.name, "KernelRefuses");
    fs::remove(refusing);
    fs::create_symlink("/proc/self/oom_score_adj", refusing);
    struct Case {
        std::string setting, value, attribute, before;
    };
    const std::vector<Case> cases = {
        {"Power-On Delay", "12", "PowerOnDelay", "10"},   // off scalar_increment 5
        {"Service Tag", "ABC", "ServiceTag", "7ABC123"},  // shorter than min_length 7
        {"Old Mode", "UEFI", "OldMode", "Legacy"},        // fine: among possible_values
        {"Old Mode", "Legacy", "OldMode", "UEFI"},        // outside possible_values
        {"Kernel Refuses", "text", "KernelRefuses", ""},  // the kernel answers EINVAL
    };
    for (const Case& c : cases) {
        std::string before = c.attribute == "KernelRefuses" ? tree::Get(refusing) : c.before;
        Outcome set = Zmrmc({"set", c.setting, c.value});
        bool accepted = c.setting == "Old Mode" && c.value == "UEFI";
        EXPECT_EQ(set.code == 0, accepted) << c.setting << " = " << c.value << "\n" << set.out << set.err;
        EXPECT_EQ(tree::Get(Value(dell.name, c.attribute)), accepted ? c.value : before) << c.setting;
    }
}

// With the Admin password set, writes send it to current_password first and clear it after; without it they
// are refused, and a password the kernel refuses (EACCES) refuses the write.
TEST_F(HostMachine, SetupPasswordGuardsEveryWrite) {
    tree::Driver dell = tree::Dell();
    dell.authentications[0].enabled = true;
    tree::Write(tree_, dell);
    fs::path admin = tree_ / dell.name / "authentication" / "Admin";
    Outcome locked = Zmrmc({"set", "Enable Camera", "Disabled"});
    EXPECT_NE(locked.code, 0) << locked.out;
    EXPECT_EQ(tree::Get(Value(dell.name, "Camera")), "Enabled");

    Outcome unlocked = Zmrmc({"set", "Enable Camera", "Disabled", "--password-stdin"}, "secret\n");
    EXPECT_EQ(unlocked.code, 0) << unlocked.out << unlocked.err;
    EXPECT_EQ(tree::Get(Value(dell.name, "Camera")), "Disabled");
    EXPECT_EQ(tree::Get(admin / "current_password"), "") << "the session is cleared after the write";

    // A kernel that refuses the password: its current_password answers EACCES (a read-only kernel file).
    fs::remove(admin / "current_password");
    fs::create_symlink("/sys/devices/system/cpu/online", admin / "current_password");
    Outcome refused = Zmrmc({"set", "Enable Camera", "Enabled", "--password-stdin"}, "wrong\n");
    EXPECT_NE(refused.code, 0) << refused.out;
    EXPECT_EQ(tree::Get(Value(dell.name, "Camera")), "Disabled");
}

// The setup password goes to new_password (within the driver's lengths); the factory defaults to reset_bios, with
// the password when one is set.
TEST_F(HostMachine, SetupPasswordAndFactoryDefaults) {
    tree::Driver dell = tree::Dell();
    dell.authentications[0].minLength = 4;
    dell.authentications[0].maxLength = 8;
    tree::Write(tree_, dell);
    fs::path admin = tree_ / dell.name / "authentication" / "Admin";
    fs::path reset = tree_ / dell.name / "attributes" / "reset_bios";
    Outcome set = Zmrmc({"password", "setup", "set", "--password-stdin"}, "secret1\n");
    EXPECT_EQ(set.code, 0) << set.out << set.err;
    EXPECT_EQ(tree::Get(admin / "new_password"), "secret1");
    tree::Put(admin / "new_password", "");
    for (const char* refused : {"abc", "muchtoolong"}) {  // shorter than min_password_length, longer than max
        Outcome bad = Zmrmc({"password", "setup", "set", "--password-stdin"}, std::string(refused) + "\n");
        EXPECT_EQ(bad.code, 6) << refused << ": " << bad.out << bad.err;
        EXPECT_EQ(tree::Get(admin / "new_password"), "") << refused;
    }
    // The kernel shows the password set; changing it and the defaults now need it.
    tree::Put(admin / "is_enabled", "1");
    Outcome change = Zmrmc({"password", "setup", "change", "--password-stdin"}, "secret1\nsecret2\n");
    EXPECT_EQ(change.code, 0) << change.out << change.err;
    EXPECT_EQ(tree::Get(admin / "new_password"), "secret2");
    Outcome without = Zmrmc({"defaults"});
    EXPECT_NE(without.code, 0) << without.out;
    EXPECT_EQ(tree::Get(reset), "builtinsafe lastknowngood [factory] custom");
    tree::Put(reset, "builtinsafe [lastknowngood] factory custom");
    Outcome defaults = Zmrmc({"defaults", "--password-stdin"}, "secret1\n");
    EXPECT_EQ(defaults.code, 0) << defaults.out << defaults.err;
    EXPECT_EQ(tree::Get(reset), "factory");
}

// A notebook (its SMBIOS chassis says so) changes the power-on password through the secure interface: the
// System authentication's new_password, after its current_password once one is set.
TEST_F(HostMachine, PowerOnPasswordOfANotebook) {
    tree::Driver dell = tree::Dell();
    tree::Write(tree_, dell);
    smbios::SaveTables(tree_ / "dmi", tree_ / "dmi.bin");
    setenv("QV_DMI_TABLES", (tree_ / "dmi").c_str(), 1);
    fs::path system = tree_ / dell.name / "authentication" / "System";
    Outcome set = Zmrmc({"password", "power-on", "set", "--password-stdin"}, "boot1\n");
    EXPECT_EQ(set.code, 0) << set.out << set.err;
    EXPECT_EQ(tree::Get(system / "new_password"), "boot1");
    tree::Put(system / "is_enabled", "1");
    Outcome change = Zmrmc({"password", "power-on", "change", "--password-stdin"}, "boot1\nboot2\n");
    EXPECT_EQ(change.code, 0) << change.out << change.err;
    EXPECT_EQ(tree::Get(system / "new_password"), "boot2");
    EXPECT_EQ(tree::Get(system / "current_password"), "") << "the session is cleared after the change";
}

// A saved settings file applied after the values changed puts every kind back; saving again gives the same file.
TEST_F(HostMachine, SavedFileAppliesBack) {
    tree::Write(tree_, tree::Hp());
    ASSERT_EQ(Zmrmc({"save", Path("before.txt")}).code, 0);
    tree::Put(Value("hp-bioscfg", "Boot Order"), "USB;Network;HDD");
    tree::Put(Value("hp-bioscfg", "Num Lock"), "On");
    tree::Put(Value("hp-bioscfg", "POST Delay"), "7");
    tree::Put(Value("hp-bioscfg", "Ownership Tag"), "Someone else");
    Outcome apply = Zmrmc({"apply", Path("before.txt"), "--json"});
    ASSERT_EQ(apply.code, 0) << apply.out << apply.err;
    EXPECT_EQ(json::parse(apply.out)["changes"].size(), 4u) << apply.out;
    EXPECT_EQ(tree::Get(Value("hp-bioscfg", "Boot Order")), "HDD;USB;Network");
    EXPECT_EQ(tree::Get(Value("hp-bioscfg", "Num Lock")), "Off");
    EXPECT_EQ(tree::Get(Value("hp-bioscfg", "POST Delay")), "0");
    EXPECT_EQ(tree::Get(Value("hp-bioscfg", "Ownership Tag")), "HP-Lab");
    ASSERT_EQ(Zmrmc({"save", Path("after.txt")}).code, 0);
    EXPECT_EQ(Contents(root_ / "after.txt"), Contents(root_ / "before.txt"));
}

// A PC without the class: the machine is not made, the message names what is missing.
TEST_F(HostMachine, WithoutTheClassSaysWhatIsMissing) {
    setenv("QV_FIRMWARE_ATTRIBUTES", (tree_ / "missing").c_str(), 1);
    Outcome show = Zmrmc({"show"});
    EXPECT_NE(show.code, 0);
    EXPECT_NE(
        show.err.find((tree_ / "missing").string() + " does not exist (the firmware-attributes class is missing)"),
        std::string::npos)
        << show.err;
}

}  // namespace
