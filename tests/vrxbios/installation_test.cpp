// Installation, removal and the test run of vrxBIOS through the real programs: vrxBIOS with its options on a
// fresh system root made from each shipped machine, the MOF compiler it starts, the instrumentation service
// and the client tool `wmi` to look at the result, and the registry API for the COM registration.
#include "qv_child_process.h"
#include "qv_temp_root.h"
#include "qv_test_paths.h"
#include "root_processes.h"
#include "windows.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct Outcome {
    int code = -1;  // -1: did not end normally within the time limit
    std::string out, err, debug;
};

const char kClsidKey[] = "CLSID\\{D7B353ED-CF58-4BAF-807B-6EA01360D51F}";
const char kAppIdKey[] = "AppID\\{D0407B6E-B15A-4849-8E2D-F37E94438541}";
const char kTypeLibKey[] = "TypeLib\\{358A287F-7187-4394-B773-5A7C275020DA}";

const std::vector<std::string> kCommonClasses = {
    "QV_BIOSSetting",  "QV_BIOSString",           "QV_BIOSInteger", "QV_BIOSEnumeration", "QV_BIOSOrderedList",
    "QV_BIOSPassword", "QV_BIOSSettingInterface", "QV_BIOSSensor",  "QV_BIOSStateSensor", "QV_BIOSNumericSensor"};
const std::vector<std::string> kSoftwareClasses = {"QVPROV_BIOSString",
                                                   "QVPROV_BIOSInteger",
                                                   "QVPROV_BIOSEnumeration",
                                                   "QVPROV_BIOSOrderedList",
                                                   "QVPROV_BIOSPassword",
                                                   "QVPROV_BIOSSettingInterface",
                                                   "QV_BCXEvent",
                                                   "QV_BIOSConfigurationEvent"};
const std::vector<std::string> kFirmwareClasses = {
    "QVBIOS_BIOSString",   "QVBIOS_BIOSInteger",          "QVBIOS_BIOSEnumeration", "QVBIOS_BIOSOrderedList",
    "QVBIOS_BIOSPassword", "QVBIOS_BIOSSettingInterface", "QVBIOS_BIOSStateSensor", "QVBIOS_BIOSNumericSensor"};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> Joined(std::initializer_list<const std::vector<std::string>*> parts) {
    std::vector<std::string> all;
    for (const auto* part : parts) all.insert(all.end(), part->begin(), part->end());
    std::sort(all.begin(), all.end());
    return all;
}

class InstallationTest : public TempRootTest {
protected:
    void TearDown() override {
        // The service and the provider end by themselves once idle; one that does not is a failure.
        EXPECT_TRUE(AwaitRootProcessesGone(root_, 30s).empty()) << "processes left on the root";
        TempRootTest::TearDown();
    }

    // Runs a program of the build (or the one at an absolute path) on this test's root with machine_ and the short service idle times.
    Outcome Start(const std::string& program, const std::vector<std::string>& args,
                  const std::vector<std::string>& env = {}) {
        auto out = root_ / "run.out", err = root_ / "run.err", debug = root_ / "run.debug";
        std::filesystem::remove(debug);
        std::string path = program[0] == '/' ? program : BuildTree() + "/bin/" + program;
        std::vector<std::string> environment{
            "QV_SYSTEM_ROOT=" + root_.string(), "QV_DEBUG_OUTPUT=" + debug.string(),
            "QV_MACHINE=" + machine_,           "QV_WBEM_SERVICE=" + BuildTree() + "/bin/winmgmt",
            "QV_WBEM_SERVICE_IDLE_MS=500",      "QV_WBEM_PROVIDER_IDLE_MS=300"};
        environment.push_back("QV_MESSAGEBOX_ANSWERS");  // no preset answers unless `env` gives them
        environment.insert(environment.end(), env.begin(), env.end());
        std::vector<std::string> argv{path};
        argv.insert(argv.end(), args.begin(), args.end());
        Outcome run;
        int code = WaitChild(StartChild(argv, out, err, environment), 120s);
        if (code >= 0) run.code = code;
        run.out = ReadWholeFile(out);
        run.err = ReadWholeFile(err);
        run.debug = ReadWholeFile(debug);
        return run;
    }
    Outcome VrxBios(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
        Outcome run = Start("vrxBIOS", args, env);
        EXPECT_EQ(run.code, 0) << run.err;
        return run;
    }
    Outcome Wmi(const std::vector<std::string>& args) { return Start("wmi", args); }

    // The classes of root\QV\InstrumentedBIOS, sorted; empty when the namespace does not exist.
    std::vector<std::string> Classes() {
        Outcome run = Wmi({"classes"});
        std::vector<std::string> names;
        for (const auto& line : Lines(run.out))
            if (line.compare(0, 2, "__") != 0 && line != "MSFT_DecoupledProvider") names.push_back(line);
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string Providers() { return Wmi({"query", "SELECT Name FROM __Win32Provider", "-f", "json"}).out; }

    // The default value of an HKCR key, or "<missing>".
    static std::string ClassesValue(const std::string& key, const wchar_t* value = nullptr) {
        HKEY handle = nullptr;
        std::wstring name = qv::win::FromUtf8(key);
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return "<missing>";
        wchar_t data[1024] = {};
        DWORD size = sizeof data - sizeof(wchar_t), type = 0;
        LONG status = RegQueryValueExW(handle, value, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
        RegCloseKey(handle);
        return status == ERROR_SUCCESS ? qv::win::ToUtf8(data) : "<no value>";
    }
    static bool Registered() { return ClassesValue(kClsidKey) != "<missing>"; }

    bool WorkingFolderExists() const {
        return std::filesystem::exists(root_ / "drive_c" / "WINDOWS" / "TEMP" / "vrxBIOS");
    }

    std::string machine_ = "desktop";
};

// On both machines whose firmware only the library reads.
class LegacyInstallationTest : public InstallationTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        InstallationTest::SetUp();
        machine_ = GetParam();
    }
    void InstallAndCheck() {
        Outcome run = VrxBios({"-Install", "-Silent"});
        EXPECT_EQ(run.err, "");  // nothing shown
        // The compiler's own output is copied to the debugger output.
        EXPECT_NE(run.debug.find("Parsing MOF file: C:\\WINDOWS\\TEMP\\vrxBIOS\\swprov.mof"), std::string::npos)
            << run.debug;
        EXPECT_NE(run.debug.find("UninstallFirmwareProvider()\n"), std::string::npos);
        EXPECT_FALSE(WorkingFolderExists());
        EXPECT_EQ(Classes(), Joined({&kCommonClasses, &kSoftwareClasses}));
        std::string providers = Providers();
        EXPECT_NE(providers.find("WMIProvider_BCXBiosSettings"), std::string::npos) << providers;
        EXPECT_EQ(providers.find("Provider_BIOSInterface"), std::string::npos) << providers;
        EXPECT_EQ(ClassesValue(kClsidKey), "BIOSInterface Class");
        EXPECT_NE(ClassesValue(std::string(kClsidKey) + "\\LocalServer32").find("vrxBIOS"), std::string::npos);
        EXPECT_EQ(ClassesValue(kAppIdKey), "vrxBIOS");
        EXPECT_EQ(ClassesValue("AppID\\vrxBIOS.EXE", L"AppID"), "{D0407B6E-B15A-4849-8E2D-F37E94438541}");
        EXPECT_EQ(ClassesValue("VrxBIOS.BIOSInterface\\CurVer"), "VrxBIOS.BIOSInterface.1");
        EXPECT_NE(ClassesValue(kTypeLibKey), "<missing>");
    }
};

// Install registers the provider and its classes; a second Install changes nothing; the service starts the
// registered provider for a request and the provider ends by itself once released (checked at tear-down).
TEST_P(LegacyInstallationTest, InstallRegistersProviderAndClassesAndCanRunAgain) {
    InstallAndCheck();
    InstallAndCheck();
    Outcome listed = Wmi({"enum", "QVPROV_BIOSSettingInterface"});
    EXPECT_EQ(listed.code, 0) << listed.err;
    Outcome queried = Wmi({"query", "SELECT Name FROM QVPROV_BIOSEnumeration"});
    EXPECT_EQ(queried.code, 0) << queried.err;
}

// Silent removal takes the software provider out and unregisters; the common classes and the event base stay.
TEST_P(LegacyInstallationTest, SilentRemoveTakesOutTheSoftwareProvider) {
    InstallAndCheck();
    Outcome run = VrxBios({"-Uninstall", "-Silent"});
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.debug.find("UninstallSoftwareProvider()\n"), std::string::npos);
    EXPECT_EQ(run.debug.find("UninstallCommonClasses()"), std::string::npos);
    std::vector<std::string> event_base{"QV_BCXEvent"};
    EXPECT_EQ(Classes(), Joined({&kCommonClasses, &event_base}));
    std::string providers = Providers();
    EXPECT_EQ(providers.find("WMIProvider_BCXBiosSettings"), std::string::npos);
    EXPECT_NE(providers.find("DecoupledEventProvider_BCXBiosSettings"), std::string::npos);
    EXPECT_FALSE(Registered());
    EXPECT_EQ(ClassesValue(kAppIdKey), "<missing>");
    EXPECT_EQ(ClassesValue("AppID\\vrxBIOS.EXE"), "<missing>");
    EXPECT_EQ(ClassesValue("VrxBIOS.BIOSInterface"), "<missing>");
    EXPECT_EQ(ClassesValue(kTypeLibKey), "<missing>");
    EXPECT_NE(ClassesValue("CLSID"), "<missing>");  // HKCR\CLSID itself stays
}

// With Clean: software provider, then firmware provider, then the common setting classes; sensors stay.
TEST_P(LegacyInstallationTest, CleanRemoveAlsoTakesTheCommonClasses) {
    InstallAndCheck();
    Outcome run = VrxBios({"-Uninstall", "-Clean", "-Silent"});
    size_t software = run.debug.find("UninstallSoftwareProvider()\n");
    size_t firmware = run.debug.find("UninstallFirmwareProvider()\n");
    size_t common = run.debug.find("UninstallCommonClasses()\n");
    ASSERT_NE(common, std::string::npos) << run.debug;
    EXPECT_LT(software, firmware);
    EXPECT_LT(firmware, common);
    EXPECT_EQ(Classes(),
              (std::vector<std::string>{"QV_BCXEvent", "QV_BIOSNumericSensor", "QV_BIOSSensor", "QV_BIOSStateSensor"}));
    EXPECT_FALSE(Registered());
}

INSTANTIATE_TEST_SUITE_P(Machines, LegacyInstallationTest, ::testing::Values("desktop", "laptop-legacy"),
                         [](const ::testing::TestParamInfo<const char*>& machine) {
                             return std::string(machine.param) == "desktop" ? "Desktop" : "LaptopLegacy";
                         });

// The question 205 answered No removes nothing; an Install on the same line still runs; Yes removes.
TEST_F(InstallationTest, RemoveAsksFirstAndNoKeepsEverything) {
    Outcome first = VrxBios({"-Uninstall", "-Install"}, {"QV_MESSAGEBOX_ANSWERS=no"});
    EXPECT_EQ(first.err,
              "[vrxBIOS] The option you have selected will uninstall the QV BCX Software Provider for BIOS Settings.  "
              "Are you sure you want to continue? [Yes/No] No\n");
    EXPECT_EQ(first.debug.find("UninstallSoftwareProvider()"), std::string::npos);
    EXPECT_TRUE(Registered());
    VrxBios({"-Uninstall"}, {"QV_MESSAGEBOX_ANSWERS=no"});
    EXPECT_TRUE(Registered());
    EXPECT_EQ(Classes(), Joined({&kCommonClasses, &kSoftwareClasses}));
    VrxBios({"-Uninstall"}, {"QV_MESSAGEBOX_ANSWERS=yes"});
    EXPECT_FALSE(Registered());
}

// A native machine keeps the firmware classes and gets neither the software provider nor a registration;
// its removal asks question 206 and takes the firmware classes out.
TEST_F(InstallationTest, NativeMachineGetsOnlyCommonAndFirmwareClasses) {
    machine_ = "native-wmi";
    Outcome run = VrxBios({"-Install", "-Silent"});
    EXPECT_EQ(run.debug.find("swprov.mof"), std::string::npos);
    EXPECT_EQ(run.debug.find("UninstallFirmwareProvider()"), std::string::npos);
    EXPECT_EQ(Classes(), Joined({&kCommonClasses, &kFirmwareClasses}));
    EXPECT_NE(Providers().find("Provider_BIOSInterface"), std::string::npos);
    EXPECT_FALSE(Registered());

    Outcome removed = VrxBios({"-Uninstall"}, {"QV_MESSAGEBOX_ANSWERS=yes"});
    EXPECT_NE(removed.err.find("uninstall portions of the native QV BCX support"), std::string::npos) << removed.err;
    EXPECT_EQ(Classes(), Joined({&kCommonClasses}));
}

// Neither interface: only the common classes remain, nothing is shown, exit code 0.
TEST_F(InstallationTest, UnsupportedMachineKeepsOnlyTheCommonClasses) {
    machine_ = "unsupported";
    Outcome run = VrxBios({"-Install"});
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.debug.find("fwprov.mof"), std::string::npos);
    EXPECT_EQ(run.debug.find("swprov.mof"), std::string::npos);
    EXPECT_EQ(Classes(), Joined({&kCommonClasses}));
    EXPECT_FALSE(Registered());
    EXPECT_FALSE(WorkingFolderExists());
}

// A 32-bit process on 64-bit Windows is refused with message 203 before anything is installed.
TEST_F(InstallationTest, SixtyFourBitWindowsRefusesWithMessage203) {
    machine_ = "x64";
    Outcome run = VrxBios({"-Install"});
    EXPECT_EQ(run.err, "[vrxBIOS] This WMI provider is not supported on 64-bit editions of Windows. [OK] OK\n");
    EXPECT_EQ(run.debug, "");
    EXPECT_EQ(Classes(), std::vector<std::string>{});
    EXPECT_FALSE(Registered());
}

struct TestRunCase {
    const char* machine;
    const char* native;
    const char* legacy;
};

class TestRunTest : public InstallationTest, public ::testing::WithParamInterface<TestRunCase> {};

// The test run reports what the machine supports and leaves the common classes installed (the firmware
// classes only on a native machine); it registers nothing.
TEST_P(TestRunTest, ReportsWhatTheMachineSupports) {
    const TestRunCase& c = GetParam();
    machine_ = c.machine;
    Outcome run = VrxBios({"-TestMode"});
    EXPECT_NE(run.debug.find(c.native), std::string::npos) << run.debug;
    EXPECT_NE(run.debug.find(c.legacy), std::string::npos) << run.debug;
    bool native = std::string(c.native) == "Native WMI support detected.\n";
    EXPECT_EQ(Classes(), native ? Joined({&kCommonClasses, &kFirmwareClasses}) : Joined({&kCommonClasses}));
    EXPECT_FALSE(Registered());
    EXPECT_FALSE(WorkingFolderExists());
}

INSTANTIATE_TEST_SUITE_P(Machines, TestRunTest,
                         ::testing::Values(TestRunCase{"desktop", "No native WMI support found.\n",
                                                       "Legacy BIOS interface support detected.\n"},
                                           TestRunCase{"native-wmi", "Native WMI support detected.\n",
                                                       "Legacy BIOS interface support detected.\n"},
                                           TestRunCase{"unsupported", "No native WMI support found.\n",
                                                       "Unsupported system.\n"}),
                         [](const ::testing::TestParamInfo<TestRunCase>& c) {
                             std::string name;
                             for (const char* at = c.param.machine; *at != 0; ++at)
                                 if (*at != '-') name += *at;
                             return name;
                         });

// When the instrumentation service cannot be reached, detection answers false and the removal step touches
// nothing: the firmware classes the compiler stored stay; the library's check still decides the install.
TEST_F(InstallationTest, UnreachableServiceMakesDetectionAnswerFalse) {
    Outcome run = VrxBios({"-Install", "-Silent"}, {"QV_WBEM_SERVICE=/nonexistent/winmgmt"});
    EXPECT_NE(run.debug.find("Unable to connect to root\\QV\\InstrumentedBIOS"), std::string::npos) << run.debug;
    EXPECT_EQ(Classes(), Joined({&kCommonClasses, &kFirmwareClasses, &kSoftwareClasses}));
    EXPECT_TRUE(Registered());
}

// The main job after the build: install on the default machine and list the settings, one table per kind;
// a second run over the installation works too.
TEST_F(InstallationTest, MainJobInstallsAndListsTheSettingsAgainAndAgain) {
    const std::string script = SourceTree() + "/scripts/show-settings.sh";
    for (int run = 0; run < 2; ++run) {
        Outcome shown = Start(script, {BuildTree() + "/bin"});
        EXPECT_EQ(shown.code, 0) << shown.out << shown.err;
        EXPECT_EQ(shown.err, "");
        EXPECT_NE(shown.out.find(run == 0 ? "(new, machine desktop)" : "System root: " + root_.string() + "\n"),
                  std::string::npos)
            << shown.out;
        EXPECT_NE(shown.out.find("Installed: the software provider for BIOS settings (vrxBIOS)."), std::string::npos);
        for (const char* heading :
             {"== Enumerations (QVPROV_BIOSEnumeration) ==", "== Integers (QVPROV_BIOSInteger) ==",
              "== Strings (QVPROV_BIOSString) ==", "== Ordered lists (QVPROV_BIOSOrderedList) ==",
              "== Passwords (QVPROV_BIOSPassword) =="})
            EXPECT_NE(shown.out.find(heading), std::string::npos) << heading << "\n" << shown.out;
        // The desktop's boot order, one row of the ordered-list table.
        EXPECT_NE(shown.out.find("Boot Order  \\Storage\\Boot Order"), std::string::npos) << shown.out;
        EXPECT_TRUE(Registered());
    }
}

// A machine without support for its settings: the listing says so and fails.
TEST_F(InstallationTest, MainJobOnAnUnsupportedMachineSaysSo) {
    machine_ = "unsupported";
    Outcome shown = Start(SourceTree() + "/scripts/show-settings.sh", {BuildTree() + "/bin"});
    EXPECT_EQ(shown.code, 1);
    EXPECT_NE(shown.err.find("not supported"), std::string::npos) << shown.err;
}

}  // namespace
