// The host machine on the real road of a WMI request (settings_road.h: the client tool, the instrumentation
// service, vrxBIOS, the library, its driver): a firmware-attributes tree of two makers' drivers published
// through `wmi query` and changed with SetBIOSSetting; what the tree refuses is refused and stays.

#include "../vrxbios_settings/settings_road.h"
#include "firmware_attributes_tree.h"

#include <map>

namespace road {
namespace {

using nlohmann::json;

constexpr char kInterface[] = "QVPROV_BIOSSettingInterface.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"";

class HostRoad : public SettingsRoadTest {
protected:
    void SetUp() override {
        SettingsRoadTest::SetUp();
        tree_ = root_ / "tree";
        tree::Write(tree_, tree::Dell());
        tree::Write(tree_, tree::Hp());
        setenv("QV_FIRMWARE_ATTRIBUTES", tree_.c_str(), 1);
        setenv("QV_DMI_TABLES", (tree_ / "no-dmi").c_str(), 1);
    }
    void TearDown() override {
        SettingsRoadTest::TearDown();
        unsetenv("QV_FIRMWARE_ATTRIBUTES");
        unsetenv("QV_DMI_TABLES");
    }
    // Name -> instance of a class.
    std::map<std::string, json> Instances(const std::string& cls) {
        std::map<std::string, json> found;
        for (const json& o : Objects({"query", "SELECT * FROM " + cls})) found[o["Name"].get<std::string>()] = o;
        return found;
    }
    int SetBIOSSetting(const std::string& name, const std::string& value) {
        Result r = Wmi({"call", kInterface, "SetBIOSSetting", "Name=" + name, "Value=" + value});
        EXPECT_EQ(r.code, 0) << r.err;
        return r.code == 0 ? json::parse(r.out)[0]["Return"].get<int>() : -1;
    }
    std::string Current(const std::string& driver, const std::string& attribute) {
        return tree::Get(tree_ / driver / "attributes" / attribute / "current_value");
    }
    std::filesystem::path tree_;
};

TEST_F(HostRoad, EveryKindIsPublishedAndChangedAsTheTreeAllows) {
    ASSERT_NO_FATAL_FAILURE(Prepare("host"));
    auto enums = Instances("QVPROV_BIOSEnumeration");
    ASSERT_TRUE(enums.count("Boot Mode")) << json(enums).dump(1);
    EXPECT_EQ(enums["Boot Mode"]["CurrentValue"], "UEFI");
    EXPECT_EQ(enums["Boot Mode"]["PossibleValues"], json::array({"UEFI", "Legacy"}));
    EXPECT_EQ(enums["Boot Mode"]["Path"], "\\dell-wmi-sysman");
    EXPECT_EQ(enums["Pending Reboot"]["IsReadOnly"], 1);
    EXPECT_EQ(enums["hp-bioscfg Pending Reboot"]["IsReadOnly"], 1);  // the second driver's, named apart
    auto integers = Instances("QVPROV_BIOSInteger");
    EXPECT_EQ(integers["Power-On Delay"]["IntValue"], 10);
    EXPECT_EQ(integers["Power-On Delay"]["UpperBound"], 60);
    auto strings = Instances("QVPROV_BIOSString");
    EXPECT_EQ(strings["Asset Tag"]["Value"], "DELL-0001");
    EXPECT_EQ(strings["Asset Tag"]["MaxLength"], 17);  // the provider counts the terminating NUL
    auto lists = Instances("QVPROV_BIOSOrderedList");
    EXPECT_EQ(lists["UEFI Boot Order"]["Elements"], json::array({"HDD", "USB", "Network"}));
    auto passwords = Instances("QVPROV_BIOSPassword");
    EXPECT_TRUE(passwords.count("Setup Password") && passwords.count("Power-On Password")) << json(passwords).dump();

    struct Case {
        std::string name, value;
        int result;
        std::string driver, attribute, after;
    };
    const std::vector<Case> cases = {
        {"Boot Mode", "Legacy", 0, "dell-wmi-sysman", "BootMode", "Legacy"},
        {"Power-On Delay", "12", 4, "dell-wmi-sysman", "PowerOnDelay", "10"},  // off scalar_increment
        {"Power-On Delay", "15", 0, "dell-wmi-sysman", "PowerOnDelay", "15"},
        {"Asset Tag", "QV-NEW-7", 0, "dell-wmi-sysman", "AssetTag", "QV-NEW-7"},
        {"Service Tag", "ABC", 4, "dell-wmi-sysman", "ServiceTag", "7ABC123"},  // below min_length
        {"UEFI Boot Order", "Network, HDD, USB", 0, "hp-bioscfg", "Boot Order", "Network;HDD;USB"},
        {"Num Lock State at Power-On", "On", 0, "hp-bioscfg", "Num Lock", "On"},
        {"Pending Reboot", "Yes", 1, "dell-wmi-sysman", "", ""},  // read-only
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SetBIOSSetting(c.name, c.value), c.result) << c.name << " = " << c.value;
        if (!c.attribute.empty()) {
            EXPECT_EQ(Current(c.driver, c.attribute), c.after) << c.name;
        }
    }
    EXPECT_EQ(tree::Get(tree_ / "dell-wmi-sysman" / "attributes" / "pending_reboot"), "0");
    // A new enumeration reads what the tree holds now, changed by nobody but the kernel.
    tree::Put(tree_ / "dell-wmi-sysman" / "attributes" / "Camera" / "current_value", "Disabled");
    EXPECT_EQ(Instances("QVPROV_BIOSEnumeration")["Enable Camera"]["CurrentValue"], "Disabled");
}

}  // namespace
}  // namespace road
