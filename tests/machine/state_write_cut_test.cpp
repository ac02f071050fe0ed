// A write of the machine's state cut short at every point: the writing process dies after each byte of the
// new file (its file-size limit kills it there, SIGXFSZ) and after each step of the write (killed, SIGKILL).
// Whatever the point, the state is the one before the write or the one after it, never a part; the machine
// opens and serves again, and nothing of the cut write is left in its folder.

#include "machine_fixture.h"
#include "machine_store.h"
#include "qv_machine.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <filesystem>
#include <set>

namespace fs = std::filesystem;

namespace {

using qv::machine::WriteStep;

class StateWriteCut : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        Use("desktop")->Transact([](qv::machine::Firmware&) {});  // the machine is made
        state_ = root_ / "machine" / "state.json";
        before_ = Read(state_);
    }

    static std::string Read(const fs::path& path) { return qv::machine::ReadWholeFile(path); }

    // Puts the state before the write back, as a whole file.
    void RestoreBefore() {
        std::ofstream(root_ / "restored", std::ios::binary) << before_;
        fs::rename(root_ / "restored", state_);
    }

    // In a child process: opens the machine, lets `prepare` set up the cut, and changes a setting (the E845h
    // call that sets the asset tag). How the child ended: its exit code, or minus the signal that killed it.
    int CutChange(const std::function<void()>& prepare) {
        pid_t child = fork();
        if (child == 0) {
            auto machine = qv::machine::Machine::Open(root_);
            prepare();
            machine->Transact([](qv::machine::Firmware& f) {
                FlatMemory memory;
                qv::machine::Registers r;
                r.eax = 0xE845;
                r.ecx = 0x71;
                r.ebx = 1 | (7 << 8);
                f.Int15(r, nullptr, memory, true);
            });
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
    }

    // After a cut: the state is `expected` (before or after), a new opening serves a call, and the machine's
    // folder holds its own files only.
    void ExpectWhole(const std::string& expected, const std::string& cut) {
        SCOPED_TRACE(cut);
        std::string now = Read(state_);
        ASSERT_TRUE(now == expected) << (now == before_  ? "before"
                                         : now == after_ ? "after"
                                                         : "neither")
                                     << ", " << now.size() << " bytes";
        EXPECT_NO_THROW(qv::machine::Machine::Open(root_)->Transact([](qv::machine::Firmware&) {}));
        std::set<std::string> files;
        for (const auto& entry : fs::directory_iterator(root_ / "machine")) files.insert(entry.path().filename());
        EXPECT_EQ(files, (std::set<std::string>{"flash.bin", "lock", "profile.json", "state.json"}));
    }

    fs::path state_;
    std::string before_, after_;
};

TEST_F(StateWriteCut, TheStateIsBeforeOrAfterWhereverTheWriteStops) {
    ASSERT_EQ(CutChange([] {}), 0);
    after_ = Read(state_);
    ASSERT_NE(after_, before_) << "the call changes the state";

    // Each byte: the child may make the new file only that long.
    for (size_t cut = 0; cut < after_.size(); ++cut) {
        RestoreBefore();
        int ended = CutChange([cut] {
            rlimit limit{cut, cut};
            setrlimit(RLIMIT_FSIZE, &limit);
        });
        ASSERT_EQ(ended, -SIGXFSZ) << "cut after byte " << cut;
        ASSERT_NO_FATAL_FAILURE(ExpectWhole(before_, "cut after byte " + std::to_string(cut)));
    }
    // Each step: killed right after it.
    const struct {
        WriteStep step;
        const char* name;
        bool stored;
    } steps[] = {
        {WriteStep::kOpened, "opened", false},  {WriteStep::kWritten, "written", false},
        {WriteStep::kSynced, "synced", false},  {WriteStep::kClosed, "closed", false},
        {WriteStep::kRenamed, "renamed", true}, {WriteStep::kFolderSynced, "folder synced", true},
    };
    for (const auto& s : steps) {
        RestoreBefore();
        int ended = CutChange([step = s.step] {
            qv::machine::ObserveWriteStepsForTesting([step](WriteStep reached) {
                if (reached == step) raise(SIGKILL);
            });
        });
        ASSERT_EQ(ended, -SIGKILL) << s.name;
        ASSERT_NO_FATAL_FAILURE(ExpectWhole(s.stored ? after_ : before_, std::string("killed when ") + s.name));
    }
}

}  // namespace
