// The door of the instrumentation service: administrators (root and the group "qvadmins") may change the
// firmware, subscribe to the configuration events and change the schema; another local user may read the
// settings and nothing more. The other user is a child process that drops to "nobody" and runs the real client
// tool against the running service, so these tests need root, as CI has.

#include "qv_other_user.h"
#include "qv_wbem_administrators.h"
#include "service_road_fixture.h"

#include <sys/stat.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

const char kInterface[] = "QVPROV_BIOSSettingInterface.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"";

class DoorTest : public ServiceRoadTest {
protected:
    void SetUp() override {
        ServiceRoadTest::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        auto nobody = NobodyUser();
        if (!nobody) GTEST_SKIP() << "needs root and the account \"nobody\" to play another local user";
        nobody_ = *nobody;
        // The test holds a connection, so the service stays for the whole test.
        services_ = Connect();
        ASSERT_TRUE(services_);
    }
    void TearDown() override {
        services_.Reset();
        ServiceRoadTest::TearDown();
    }

    // The installation keeps its folders to its owner (each of its processes closes the root again); here the
    // way to the running service opens for others: passing through the root's folders to the service's
    // announcement and connecting to its socket. Whatever they may do then is the service's own decision.
    void OpenTheServiceToOthers() {
        for (const fs::path& folder : {root_, root_ / "com", root_ / "com" / "running", root_ / "com" / "run"})
            ASSERT_EQ(chmod(folder.c_str(), 0711), 0) << folder;
        for (const auto& entry : fs::directory_iterator(root_ / "com" / "running")) chmod(entry.path().c_str(), 0644);
        for (const auto& entry : fs::directory_iterator(root_ / "com" / "run")) chmod(entry.path().c_str(), 0666);
    }

    // The client tool on root\QV\InstrumentedBIOS as `user`.
    ProgramResult WmiAs(const OtherUser& user, std::vector<std::string> args) {
        args.insert(args.begin(), {BuildTree() + "/bin/wmi", "--namespace", "root\\QV\\InstrumentedBIOS"});
        return RunAs(user, args);
    }
    ProgramResult RunAs(const OtherUser& user, const std::vector<std::string>& args) {
        OpenTheServiceToOthers();
        fs::path output = root_ / "other-user.out";
        ProgramResult r;
        r.code = RunProgramAsUser(user, args, output);
        r.err = r.out = ReadProcFile(output.string());
        return r;
    }

    OtherUser nobody_;
    Microsoft::WRL::ComPtr<IWbemServices> services_;
};

// Another user reads the settings, but every change of the firmware, of the schema and the configuration
// events are refused with WBEM_E_ACCESS_DENIED; the same requests of root go through.
TEST_F(DoorTest, AnotherUserReadsButChangesNothing) {
    ProgramResult read = WmiAs(nobody_, {"--format", "json", "query", "SELECT Name FROM QVPROV_BIOSEnumeration"});
    ASSERT_EQ(read.code, 0) << read.out;
    ProgramResult own = Wmi({"--format", "json", "query", "SELECT Name FROM QVPROV_BIOSEnumeration"});
    ASSERT_EQ(own.code, 0) << own.err;
    EXPECT_EQ(read.out, own.out);
    EXPECT_EQ(WmiAs(nobody_, {"get", kInterface}).code, 0);

    const std::vector<std::vector<std::string>> refused = {
        {"call", kInterface, "SetBIOSSetting", "Name=Boot Delay", "Value=5", "Password="},
        {"call", kInterface, "SetSystemDefaults", "Password="},
        {"watch", "SELECT * FROM QV_BIOSConfigurationEvent", "--timeout", "1"},
        {"delete", "QVPROV_BIOSEnumeration"},
        {"delete", kInterface},
    };
    for (const auto& args : refused) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        ProgramResult denied = WmiAs(nobody_, args);
        EXPECT_EQ(denied.code, 1) << denied.out;
        EXPECT_NE(denied.out.find("WBEM_E_ACCESS_DENIED"), std::string::npos) << denied.out;
    }
    ProgramResult changed = Wmi({"call", kInterface, "SetBIOSSetting", "Name=Boot Delay", "Value=5", "Password="});
    EXPECT_EQ(changed.code, 0) << changed.err;
    EXPECT_EQ(Wmi({"watch", "SELECT * FROM QV_BIOSConfigurationEvent", "--timeout", "1"}).err.find("ACCESS_DENIED"),
              std::string::npos);
    EXPECT_EQ(Wmi({"class", "QVPROV_BIOSEnumeration"}).code, 0) << "the schema is as it was";
}

// The MOF compiler, which installs the schema, refuses a user who is not an administrator before it opens
// the repository, and exits with a failure.
TEST_F(DoorTest, AnotherUserCannotInstallTheSchema) {
    ProgramResult compiled = RunAs(nobody_, {BuildTree() + "/bin/mofcomp", QVT_TEST_MOF});
    EXPECT_NE(compiled.code, 0) << compiled.out;
    EXPECT_NE(compiled.out.find("WBEM_E_ACCESS_DENIED"), std::string::npos) << compiled.out;
}

// Administrators are root and the members of the group, by the primary or any supplementary group.
TEST(Administrators, AreRootAndTheMembersOfTheGroup) {
    const gid_t group = 4242;
    struct Case {
        qv::com::CallerCredentials user;
        const gid_t* administrators;
        bool is;
    } cases[] = {
        {{0, 0, {}}, nullptr, true},
        {{0, 100, {}}, &group, true},
        {{1000, 4242, {}}, &group, true},
        {{1000, 100, {27, 4242}}, &group, true},
        {{1000, 100, {27, 4243}}, &group, false},
        {{1000, 4242, {4242}}, nullptr, false},
        {{65534, 65534, {}}, &group, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.user.uid);
        EXPECT_EQ(qv::wbem::IsAdministrator(c.user, c.administrators), c.is);
    }
}

}  // namespace
