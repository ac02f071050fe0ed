// The whole road of a password typed into the control: the encoding GetPassword returns, passed as the
// password of SetBIOSSetting through the client tool, unlocks a machine whose setup password is the same
// keys (the firmware keeps scan codes without the shift state) and changes the setting; other keys do not.

#include "dialog_fixture.h"

#include <nlohmann/json.hpp>

namespace {

constexpr const char* kInterface = "QVPROV_BIOSSettingInterface.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"";
constexpr const char* kSetting = "POST Delay (in seconds)";

class PasswordRoadTest : public DialogTest {
protected:
    void SetUp() override {
        // The desktop machine with the setup password of the keys a and b.
        std::ifstream in(SourceTree() + "/platform/machine/profiles/desktop.json");
        nlohmann::json profile = nlohmann::json::parse(in);
        profile["passwords"]["setup"] = "1E30";
        profile_ = std::filesystem::temp_directory_path() / ("qv-password-road-" + std::to_string(getpid()) + ".json");
        std::ofstream(profile_) << profile.dump();
        setenv("QV_MACHINE", profile_.c_str(), 1);
        setenv("QV_WBEM_SERVICE", (BuildTree() + "/bin/winmgmt").c_str(), 1);
        setenv("QV_WBEM_SERVICE_IDLE_MS", "500", 1);
        setenv("QV_WBEM_PROVIDER_IDLE_MS", "500", 1);
        DialogTest::SetUp();
    }
    void TearDown() override {
        DialogTest::TearDown();
        for (const char* name :
             {"QV_MACHINE", "QV_WBEM_SERVICE", "QV_WBEM_SERVICE_IDLE_MS", "QV_WBEM_PROVIDER_IDLE_MS"})
            unsetenv(name);
        std::filesystem::remove(profile_);
    }

    // Runs a program of the build with its output in a file of the root; returns that output.
    std::string Run(std::vector<std::string> args, int* code = nullptr) {
        args[0] = BuildTree() + "/bin/" + args[0];
        int rc = WaitChild(StartChild(args, root_ / "road.out", root_ / "road.err"), std::chrono::seconds(120));
        if (code != nullptr) *code = rc;
        std::ifstream out(root_ / "road.out");
        std::stringstream text;
        text << out.rdbuf();
        return text.str();
    }
    // SetBIOSSetting's Return for the password, or -1 when the call did not answer one.
    int SetSetting(const std::string& value, const std::string& password) {
        std::string out = Run({"wmi", "--format", "json", "call", kInterface, "SetBIOSSetting",
                               std::string("Name=") + kSetting, "Value=" + value, "Password=" + password});
        try {
            nlohmann::json answer = nlohmann::json::parse(out);
            if (answer.is_array() && !answer.empty()) answer = answer[0];
            return answer.value("Return", -1);
        } catch (const std::exception&) {
            ADD_FAILURE() << "not an answer: " << out;
            return -1;
        }
    }
    std::string CurrentValue() {
        std::string out = Run({"wmi", "--format", "json", "query",
                               std::string("SELECT IntValue FROM QVPROV_BIOSInteger WHERE Name = '") + kSetting + "'"});
        nlohmann::json found = nlohmann::json::parse(out, nullptr, false);
        if (!found.is_array() || found.empty()) return "(none)";
        return found[0].contains("IntValue") ? found[0]["IntValue"].dump() : "(none)";
    }
    // The encoding of keys typed into the control's dialog.
    std::string Typed(int nth, const std::string& keys) {
        auto call = StartGetPassword(L"Setup password:");
        WaitForDialog(nth);
        Xdotool("key " + keys + " Return");
        return Finish(call).text;
    }

    std::filesystem::path profile_;
};

TEST_F(PasswordRoadTest, EncodingTypedUnlocksTheSetupPassword) {
    int code = -1;
    Run({"vrxBIOS", "-Install", "-Silent"}, &code);
    ASSERT_EQ(code, 0);
    std::string before = CurrentValue();
    std::string target = before == "5" ? "6" : "5";
    ASSERT_EQ(SetSetting(target, ""), 6) << "an empty setup password must be refused (Access Denied)";

    std::string wrong = Typed(1, "a c");
    EXPECT_EQ(wrong, "<kbd/>1E2E");
    EXPECT_EQ(SetSetting(target, wrong), 6);
    EXPECT_EQ(CurrentValue(), before);

    std::string right = Typed(2, "a shift+b");
    EXPECT_EQ(right, "<kbd/>1EB0");
    EXPECT_EQ(SetSetting(target, right), 0);
    EXPECT_EQ(CurrentValue(), target);
}

}  // namespace
