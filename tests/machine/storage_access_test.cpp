// Who can reach the machine's storage: its state (which holds the firmware's passwords) and its lock are the
// installation owner's only, whatever the umask of the process that made them. The root itself is a passage
// (0711) on other users' way to the instrumentation service.

#include "machine_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;

// A root below a folder every user may pass through, made by the platform itself (not by mkdtemp, whose folder
// is private already).
class StorageAccessTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_EQ(::chmod(root_.c_str(), 0755), 0);
        installation_ = root_ / "installation";
        setenv("QV_SYSTEM_ROOT", installation_.c_str(), 1);
        qv::win::ResetSystemRootForTesting();
        saved_mask_ = ::umask(0);  // as permissive as it gets
    }
    void TearDown() override {
        ::umask(saved_mask_);
        MachineTest::TearDown();
    }

    // Makes the machine and writes its state once (a replaced state file, not only the first one).
    void MakeAndWrite() {
        Use("desktop")->Transact([](qv::machine::Firmware& f) {
            FlatMemory memory;
            qv::machine::Registers r;
            r.eax = 0xE845;
            r.ecx = 0x71;
            r.ebx = 1 | (7 << 8);
            f.Int15(r, nullptr, memory, true);
        });
    }

    // What a process of user nobody reaches: a bit for each file of the machine it could open (the lock's page
    // among them: whoever maps it can take or break the lock).
    int WhatNobodyReaches() {
        pid_t child = fork();
        if (child == 0) {
            if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(100);
            int reached = 0;
            fs::path machine = installation_ / "machine";
            const char* files[] = {"state.json", "profile.json", "flash.bin", "lock"};
            for (int i = 0; i < 4; ++i) {
                int fd = ::open((machine / files[i]).c_str(), O_RDONLY);
                if (fd >= 0) reached |= 1 << i, ::close(fd);
            }
            _exit(reached);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Every folder and file below the root that group or others may use, with its mode.
    std::vector<std::string> OpenToOthers() {
        std::vector<std::string> open;
        auto check = [&](const fs::path& p) {
            struct stat st {};
            if (::lstat(p.c_str(), &st) == 0 && (st.st_mode & 077) != 0) {
                char mode[8];
                std::snprintf(mode, sizeof mode, "%03o", st.st_mode & 0777);
                open.push_back(p.string() + " " + mode);
            }
        };
        check(installation_);
        std::error_code ec;  // files of processes still running may come and go while the tree is walked
        for (auto it = fs::recursive_directory_iterator(installation_, ec); !ec && it != fs::end(it); it.increment(ec))
            check(it->path());
        return open;
    }

    // The root as a passage: all that others may use of an installation without a running service.
    std::vector<std::string> RootPassage() { return {installation_.string() + " 711"}; }

    fs::path installation_;
    mode_t saved_mask_ = 0;
};

TEST_F(StorageAccessTest, AnotherUserCannotReadTheStateOrTakeTheLock) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run a process as user nobody (CI runs the tests as root)";
    MakeAndWrite();
    EXPECT_EQ(OpenToOthers(), RootPassage());
    EXPECT_EQ(WhatNobodyReaches(), 0) << "bits: state, profile, flash, lock";
}

// A root made before its files were kept private is closed again when the machine is next opened.
TEST_F(StorageAccessTest, AnOpenedMachineClosesAnOlderRootAgain) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run a process as user nobody (CI runs the tests as root)";
    MakeAndWrite();
    for (const char* loose : {"", "machine"}) ::chmod((installation_ / loose).c_str(), 0755);
    for (const char* loose : {"state.json", "lock"}) ::chmod((installation_ / "machine" / loose).c_str(), 0644);
    qv::win::ResetSystemRootForTesting();
    qv::win::ResetRootMachineForTesting();
    MakeAndWrite();
    EXPECT_EQ(OpenToOthers(), RootPassage());
    EXPECT_EQ(WhatNobodyReaches(), 0) << "bits: state, profile, flash, lock";
}

// The whole road under a permissive umask: the installer, the service, the provider, the library and its driver
// all keep their folders and files the owner's only (registry, repository, COM announcements and sockets,
// services, the working folder, the driver's file, the machine), but for the running instrumentation service's
// door: its announcement and socket, and the passages to them.
TEST_F(StorageAccessTest, EveryFileTheRoadLeavesIsTheOwnersOnly) {
    setenv("QV_MACHINE", "desktop", 1);
    EXPECT_EQ(RunOnRoot("vrxBIOS", {"-Install", "-Silent"}, installation_).code, 0);
    ProgramRun listed = RunOnRoot("wmi", {"query", "SELECT Name FROM QVPROV_BIOSEnumeration"}, installation_);
    ASSERT_EQ(listed.code, 0) << listed.output;
    EXPECT_NE(listed.output.find("Serial Port A"), std::string::npos) << listed.output;
    fs::path announcement = installation_ / "com" / "running" / "{B7E3C1D2-5A4F-4E0B-8C61-0D2F9A7B3E52}";
    long service = 0;
    std::string socket;
    std::ifstream(announcement) >> service >> socket;
    ASSERT_GT(service, 0) << "the service is still running";
    std::vector<std::string> door = {installation_.string() + " 711",
                                     (installation_ / "com").string() + " 711",
                                     (installation_ / "com" / "run").string() + " 711",
                                     socket + " 666",
                                     (installation_ / "com" / "running").string() + " 711",
                                     announcement.string() + " 644"};
    std::vector<std::string> open = OpenToOthers();
    std::sort(open.begin(), open.end());
    std::sort(door.begin(), door.end());
    EXPECT_EQ(open, door);
    EndRootProcesses(installation_);
}

}  // namespace
