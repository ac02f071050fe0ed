// The door of the instrumentation service: administrators (root and the group "qvadmins") may change the
// firmware, subscribe to the configuration events and change the schema; another local user may read the
// settings and nothing more. The installation lets every local user reach the running service (its announcement
// and its socket) and nothing else of it. The other user is a child process that drops to "nobody" and runs the
// real client tool against the running service, so these tests need root, as CI has.

#include "qv_other_user.h"
#include "qv_wbem_administrators.h"
#include "service_road_fixture.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

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

    // The client tool on root\QV\InstrumentedBIOS as `user`.
    ProgramResult WmiAs(const OtherUser& user, std::vector<std::string> args) {
        args.insert(args.begin(), {BuildTree() + "/bin/wmi", "--namespace", "root\\QV\\InstrumentedBIOS"});
        return RunAs(user, args);
    }
    ProgramResult RunAs(const OtherUser& user, const std::vector<std::string>& args) {
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

// What another user reaches of a running installation: the instrumentation service's announcement (read) and
// its socket (connect), through folders it may pass but not list or write. Every other file and socket (the
// registry, the repository, the machine's state and lock, the provider's and the driver's sockets, the other
// announcements) stays closed to it, and it can plant nothing where clients look for the service.
TEST_F(DoorTest, AnotherUserReachesTheServiceAndNothingElse) {
    // The road once more as root, so that the provider and its driver run with their sockets while we look.
    ASSERT_EQ(Wmi({"query", "SELECT Name FROM QVPROV_BIOSEnumeration"}).code, 0);
    const fs::path running = root_ / "com" / "running";
    const fs::path announcement = running / "{B7E3C1D2-5A4F-4E0B-8C61-0D2F9A7B3E52}";
    long service_pid = 0;
    std::string address;
    std::ifstream(announcement) >> service_pid >> address;
    ASSERT_GT(service_pid, 0) << "the service announced itself";
    const std::set<fs::path> door = {announcement, fs::path(address)};
    const std::set<fs::path> passages = {root_, root_ / "com", running, root_ / "com" / "run"};
    // What the test itself wrote into the root (its output files) is not the installation's.
    const std::set<std::string> tests_own = {"debug.txt", "server-debug.txt", "other-user.out", "run.out", "run.err"};
    std::vector<fs::path> everything = {root_};
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root_, ec); !ec && it != fs::end(it); it.increment(ec))
        if (!(it.depth() == 0 && tests_own.count(it->path().filename().string()))) everything.push_back(it->path());
    ASSERT_GT(everything.size(), 20u);

    int report[2];
    ASSERT_EQ(pipe(report), 0);
    int code = RunAsUser(nobody_, [&] {
        close(report[0]);
        auto say = [&](const std::string& line) { (void)!write(report[1], (line + "\n").data(), line.size() + 1); };
        for (const fs::path& path : everything) {
            struct stat st {};
            bool seen = lstat(path.c_str(), &st) == 0;
            bool reached = false;
            if (seen && S_ISDIR(st.st_mode)) {
                DIR* listed = opendir(path.c_str());
                if ((reached = listed != nullptr)) closedir(listed);
            } else if (seen && S_ISSOCK(st.st_mode)) {
                int s = socket(AF_UNIX, SOCK_STREAM, 0);
                sockaddr_un to{};
                to.sun_family = AF_UNIX;
                std::strncpy(to.sun_path, path.c_str(), sizeof(to.sun_path) - 1);
                reached = connect(s, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0;
                close(s);
            } else if (seen) {
                int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW);
                if ((reached = fd >= 0)) close(fd);
            }
            if (reached != (door.count(path) > 0)) say((reached ? "reached " : "not reached ") + path.string());
            if (seen && passages.count(path) && access(path.c_str(), X_OK) != 0) say("cannot pass " + path.string());
        }
        // Nothing planted beside the announcement or the socket, nothing put in their place.
        for (const fs::path& folder : passages) {
            int fd = open((folder / "planted").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            if (fd >= 0) say("planted in " + folder.string()), close(fd);
        }
        if (rename(announcement.c_str(), (running / "moved").c_str()) == 0) say("moved the announcement");
        if (unlink(address.c_str()) == 0) say("removed the socket");
        close(report[1]);
        return 0;
    });
    close(report[1]);
    std::string findings;
    char buffer[4096];
    for (ssize_t n; (n = read(report[0], buffer, sizeof buffer)) > 0;) findings.append(buffer, static_cast<size_t>(n));
    close(report[0]);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(findings, "");
    ASSERT_EQ(WmiAs(nobody_, {"get", kInterface}).code, 0) << "the door itself is open";
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
