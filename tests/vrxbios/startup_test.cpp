// The command line and the start-up checks of vrxBIOS, through the real program.

#include "qv_temp_root.h"
#include "qv_test_paths.h"
#include "root_processes.h"
#include "run_program.h"

#include <fstream>

namespace {

class StartupTest : public TempRootTest {
protected:
    // Runs with installation options start the instrumentation service; it ends soon after the run.
    void TearDown() override {
        EXPECT_TRUE(AwaitRootProcessesGone(root_, std::chrono::seconds(30)).empty()) << "processes left on the root";
        TempRootTest::TearDown();
    }
    ProgramRun Run(const std::vector<std::string>& args, std::vector<std::string> env) {
        env.push_back("QV_WBEM_SERVICE=" + BuildTree() + "/bin/winmgmt");
        env.push_back("QV_WBEM_SERVICE_IDLE_MS=300");
        env.push_back("QV_WBEM_PROVIDER_IDLE_MS=300");
        return RunProgram(BuildTree() + "/bin/vrxBIOS", args, root_, env);
    }
    // The machine of the run: a profile with this "windows" member (QV_MACHINE names its file).
    void InstallWindows(const std::string& windows) {
        std::ofstream(root_ / "profile.json") << R"({"windows": )" + windows + "}";
        machine_ = "QV_MACHINE=" + (root_ / "profile.json").string();
    }
    ProgramRun Run(const std::vector<std::string>& args) { return Run(args, {machine_}); }
    std::string machine_ = "QV_MACHINE=desktop";

    static std::string Flags(bool embedded, bool install, bool uninstall, bool clean, bool testmode, bool silent) {
        auto tf = [](bool b) { return std::string(b ? "true" : "false"); };
        return "bEmbedded: " + tf(embedded) + "\nbInstall: " + tf(install) + "\nbUninstall: " + tf(uninstall) +
               "\nbClean: " + tf(clean) + "\nbTestmode: " + tf(testmode) + "\nbSilent: " + tf(silent) + "\n";
    }
};

TEST_F(StartupTest, NoOptionsTracesSixFalseFlagsAndExitsWithoutMessage) {
    ProgramRun run = Run({});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.debug_output, Flags(false, false, false, false, false, false));
    EXPECT_EQ(run.error_output, "");
}

struct LineCase {
    std::vector<std::string> args;
    bool embedded, install, uninstall, clean, testmode, silent;
};

TEST_F(StartupTest, CommandLinesSetTheirFlags) {
    const std::string long_name(300, 'x');
    const LineCase cases[] = {
        {{"/install"}, false, true, false, false, false, false},
        {{"-INSTALL"}, false, true, false, false, false, false},
        {{"/RegServer", "-unregserver", "/Clean"}, false, true, true, true, false, false},
        {{"/Uninstall", "/TestMode", "/silent"}, false, false, true, false, true, true},
        // One word: the name Install/Silent matches nothing, its inner slash starts Silent.
        {{"/Install/Silent"}, false, false, false, false, false, true},
        {{"/Install-Clean"}, false, false, false, true, false, false},
        // Embedding ends the parsing.
        {{"/Automation", "/Install"}, true, false, false, false, false, false},
        // An over-long name is cut, compared and passed over without harm; the slash behind it still counts.
        {{"/" + long_name + "/Clean"}, false, false, false, true, false, false},
        {{"/Install" + long_name}, false, false, false, false, false, false},
        {{"Install", "Silent", "/unknown"}, false, false, false, false, false, false},
    };
    for (const auto& c : cases) {
        // A COM server started by hand would wait for clients forever: its security set-up is made to fail
        // so that the run ends after message 204.
        ProgramRun run = c.embedded ? Run(c.args, {machine_, "QV_COM_FAIL_SECURITY=1"}) : Run(c.args);
        std::string line;
        for (const auto& a : c.args) line += a.substr(0, 40) + " ";
        EXPECT_EQ(run.exit_code, 0) << line;
        std::string expected = Flags(c.embedded, c.install, c.uninstall, c.clean, c.testmode, c.silent);
        EXPECT_EQ(run.debug_output.substr(0, expected.size()), expected) << line;
    }
}

TEST_F(StartupTest, FailedSecuritySetupShowsMessage204EvenWhenSilent) {
    // Install runs first, then the COM server start; options after Embedding would never be seen.
    ProgramRun run = Run({"/Install", "/Silent", "/Embedding"}, {machine_, "QV_COM_FAIL_SECURITY=1"});
    EXPECT_EQ(run.exit_code, 0);
    std::string flags = Flags(true, true, false, false, false, true);
    EXPECT_EQ(run.debug_output.substr(0, flags.size()), flags);
    EXPECT_NE(run.debug_output.find("Parsing MOF file: C:\\WINDOWS\\TEMP\\vrxBIOS\\swprov.mof"), std::string::npos);
    EXPECT_EQ(run.error_output, "[vrxBIOS] Unable to create appropriate security context. [OK] OK\n");
}

TEST_F(StartupTest, WindowsBeforeNT5GetsMessage202) {
    InstallWindows(R"({"major": 4, "minor": 0})");
    ProgramRun run = Run({"/Install"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.debug_output, "");  // the run ends before the flags are traced
    EXPECT_EQ(run.error_output, "[vrxBIOS] This WMI provider is only supported on Windows NT and above. [OK] OK\n");

    run = Run({"/Install", "/Silent"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.error_output, "");
    EXPECT_EQ(run.debug_output, "");
}

// The root's machine exists, but its profile's Windows description is broken. (A root whose machine cannot be
// made at all fails the program that was making it: tests/machine/machine_files_test.cpp.)
TEST_F(StartupTest, BrokenWindowsDescriptionFailsTheVersionCheck) {
    ASSERT_EQ(Run({}).exit_code, 0);
    std::ofstream(root_ / "machine" / "profile.json", std::ios::trunc) << R"({"windows": {"major": "five"}})";
    ProgramRun run = Run({});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_NE(run.error_output.find("only supported on Windows NT"), std::string::npos);
}

TEST_F(StartupTest, SixtyFourBitWindowsGetsMessage203UnlessSilent) {
    InstallWindows(R"({"major": 5, "minor": 2, "build": 3790, "wow64": true})");
    ProgramRun run = Run({});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.debug_output, "");
    EXPECT_EQ(run.error_output,
              "[vrxBIOS] This WMI provider is not supported on 64-bit editions of Windows. [OK] OK\n");

    run = Run({"-silent"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.error_output, "");
    EXPECT_EQ(run.debug_output, "");
}

TEST_F(StartupTest, NewerWindowsPasses) {
    InstallWindows(R"({"major": 6, "minor": 1, "build": 7601})");
    ProgramRun run = Run({});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.debug_output, Flags(false, false, false, false, false, false));
}

}  // namespace
