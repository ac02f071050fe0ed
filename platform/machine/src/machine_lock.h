// The lock every firmware transaction of a root holds, and the machine's change counter: one page of the file
// "lock" in the machine's folder, mapped shared by every process that opened the machine.
//
// The lock is a robust process-shared mutex: taking it while nobody holds it costs no system call (a request
// that only reads the firmware opens, locks and stats no file), and a holder killed in the middle of a
// transaction does not stall the root: the next taker is told, and makes the state whole again from the last
// state file written. The counter rises with every transaction that writes the state, so that a process can
// tell with one memory read whether the state it parsed is still the machine's.
#pragma once

#include <cstdint>
#include <filesystem>

namespace qv::machine {

struct SharedLockPage;

class SharedLock {
public:
    // Maps `file` (created, the owner's only, when missing) and prepares the lock the first time the file is
    // used. The caller holds the file's flock, which orders the preparation between processes. Throws
    // MachineUnavailable when the file cannot be mapped.
    explicit SharedLock(const std::filesystem::path& file);
    ~SharedLock();
    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;

    // Takes the lock. True when its last holder died holding it: whatever that holder was doing may be half
    // done in its memory, never in the state file, which the caller must read again.
    bool Lock();
    void Unlock();

    // The change counter (read and raised while the lock is held).
    uint64_t Generation() const;
    void SetGeneration(uint64_t generation);

private:
    SharedLockPage* page_ = nullptr;
};

}  // namespace qv::machine
