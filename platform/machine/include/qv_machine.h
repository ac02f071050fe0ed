// The simulated PC: its installed Windows and its firmware.
//
// A machine is made from a profile (docs/machine-profiles.md) the first time a system root needs it: the
// profile named by QV_MACHINE (a shipped name or a file path; default "desktop") is copied to
// <root>/machine/profile.json and its mutable parts become <root>/machine/state.json. From then on every
// firmware call runs as one transaction: it takes the machine's lock (a robust process-shared mutex in
// <root>/machine/lock, mapped by every process of the root), answers, and when it changed something writes the
// state to a temporary file that is renamed over the old one, then raises the change counter beside the lock.
// Calls from several processes are therefore atomic with respect to each other, a crash leaves either the old
// or the new state, never a half-written one, and a process killed holding the lock leaves it to the next.
// A process keeps the state it parsed while the counter has not moved, so a change made by another process is
// seen by the next call, and a call that changes nothing touches no file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qv::machine {

// The installed Windows, as the version functions report it.
struct WindowsDescription {
    uint32_t platform = 2;  // 1 = 9x family, 2 = NT family
    uint32_t major = 5;
    uint32_t minor = 1;
    uint32_t build = 2600;
    std::string servicePack;          // "Service Pack 2"
    bool wow64 = false;               // processes of this system run as 32-bit processes on 64-bit Windows
    uint16_t nativeArchitecture = 0;  // PROCESSOR_ARCHITECTURE_*: 0 x86, 6 IA64, 9 AMD64
    uint16_t language = 0x0409;       // system default language identifier
};

// The x86 registers of one firmware call (the layout of the driver's register block).
struct Registers {
    uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0, esi = 0, edi = 0;
    uint32_t segments = 0;  // low word: data segment; high word: a second segment
    uint32_t eflags = 0;    // bit 0 = carry
};

// Real-mode memory below 1 MB as the firmware sees it during one call (the driver owns it).
class RealModeMemory {
public:
    virtual ~RealModeMemory() = default;
    virtual bool Read(uint32_t linear, void* out, size_t size) = 0;
    virtual bool Write(uint32_t linear, const void* in, size_t size) = 0;
};

// How a call ended. `reached` false: the call never reached the firmware (an injected "fail"); the driver then
// fails the request.
struct CallOutcome {
    bool reached = true;
};

class Firmware;

// A machine that cannot be used: its profile or its state is missing, damaged, or beyond what the firmware can
// hold. A firmware call that finds it never reaches the firmware. what() names the file, the member and the
// reason ("machine state <file>: objects.5: names no choice (there are 3)").
class MachineUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
// QV_MACHINE could not make the machine of a root that had none; nothing of it was left behind.
class MachineNotMade : public MachineUnavailable {
public:
    using MachineUnavailable::MachineUnavailable;
};

// Where a machine reports each fault it finds in its files (once while it stays the same), before it throws.
using FaultReport = std::function<void(const std::string& message)>;

// The machine of one system root, in <root>/machine. The platform's Windows layer keeps the machine of the
// current system root (qv_root_machine.h); the machine itself knows only the folder it is given.
class Machine {
public:
    // Opens the machine of `root`, making it from QV_MACHINE first when the root has none. Throws MachineNotMade
    // when that fails (no profile of that name, or one that is not valid), MachineUnavailable when the root's
    // own profile is not valid; `report` gets the message first.
    static std::shared_ptr<Machine> Open(const std::filesystem::path& root, FaultReport report = {});

    // The installed Windows of `root`'s machine, read from its profile's "windows" member alone: version queries
    // at start-up need not parse a profile of thousands of firmware objects. Nothing when the root has no
    // machine yet; throws MachineUnavailable (reported first) for an invalid profile.
    static std::optional<WindowsDescription> ReadInstalledWindows(const std::filesystem::path& root,
                                                                  const FaultReport& report = {});

    const WindowsDescription& Windows() const;
    const std::string& ProfileName() const;

    // Runs `call` as one atomic firmware transaction (see the header comment). Throws MachineUnavailable
    // (reported first) without running it when the state is not valid: the call never reaches the firmware.
    void Transact(const std::function<void(Firmware&)>& call);

    // Tells every process of the root that <root>/machine/state.json was replaced from outside the machine (a
    // repair by hand, a test arming a fault): each reads the file again at its next call. Without it, only
    // processes that open the machine later read such a file, and a change made through a process that had
    // parsed the state before writes over it.
    void StateReplacedOutside();

    struct Impl;
    explicit Machine(std::unique_ptr<Impl> impl);
    ~Machine();

private:
    std::unique_ptr<Impl> impl_;
};

// Profiles: the text of a shipped profile (empty when there is none of that name), the shipped names, and the
// check of a profile text (throws std::runtime_error naming the fault).
std::string ShippedProfile(const std::string& name);
std::vector<std::string> ShippedProfileNames();
void ValidateProfile(const std::string& text);

}  // namespace qv::machine
