// The machine of a system root: creation from a profile and atomic firmware transactions.

#include "machine_state.h"
#include "machine_lock.h"
#include "host_firmware.h"
#include "machine_store.h"
#include "qv_firmware.h"
#include "qv_machine.h"
#include "simulated_firmware.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace qv::machine {

struct Machine::Impl {
    fs::path dir;
    fs::path lock_path;    // dir / "lock"
    fs::path state_path;   // dir / "state.json"
    FaultReport report;    // where faults found in the files go (may be empty)
    std::string reported;  // the last fault reported, so that a damaged state is reported once, not per call
    Profile profile;
    Bytes rom_area;             // BuildRomArea(profile) once the firmware first needs it: the profile never changes
    ObjectCatalogue catalogue;  // the profile's string IDs, built once
    std::unique_ptr<SharedLock> lock;  // the transactions' lock and the change counter, shared by the root
    // The state as last read or written by this process, kept while the change counter has not moved: a machine
    // with thousands of objects need not parse it again for every call, nor look at the file.
    Json state;
    bool state_known = false;
    uint64_t seen_generation = 0;  // the counter when `state` was read or written
    HostSession host_session;      // a host machine's objects and unlock, in this process only

    void Refresh(uint64_t generation);
};

int OpenPrivate(const fs::path& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && (st.st_mode & 077) != 0) ::fchmod(fd, st.st_mode & 0700);
    return fd;
}

namespace {

// The machine's folder, the owner's only.
void CreatePrivateFolder(const fs::path& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot create " + dir.string() + ": " + std::strerror(errno));
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0)
        ::chmod(dir.c_str(), st.st_mode & 0700);
}

// Holds the machine's lock file locked (flock) while it lives: the opening of a machine (making it, preparing
// its shared lock) happens in one process at a time.
class FileLock {
public:
    explicit FileLock(const fs::path& path) : fd_(OpenPrivate(path)) {
        if (fd_ < 0) throw MachineUnavailable("cannot open " + path.string() + ": " + std::strerror(errno));
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            int error = errno;
            ::close(fd_);
            throw MachineUnavailable("cannot lock " + path.string() + ": " + std::strerror(error));
        }
    }
    ~FileLock() { ::close(fd_); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_ = -1;
};

// Holds a transaction's lock while it lives.
class Held {
public:
    explicit Held(SharedLock& lock) : lock_(lock), holder_died_(lock.Lock()) {}
    ~Held() { lock_.Unlock(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    bool HolderDied() const { return holder_died_; }

private:
    SharedLock& lock_;
    bool holder_died_;
};

std::string ProfileText(const std::string& named) {
    std::string text = ShippedProfile(named);
    if (!text.empty()) return text;
    if (named.find('/') == std::string::npos && named.find(".json") == std::string::npos) {
        std::string names;
        for (const auto& n : ShippedProfileNames()) names += (names.empty() ? "" : ", ") + n;
        throw std::runtime_error("QV_MACHINE: no shipped machine profile \"" + named + "\" (shipped: " + names +
                                 "; or give the path of a profile file)");
    }
    if (!fs::exists(named)) throw std::runtime_error("QV_MACHINE: machine profile file " + named + " not found");
    return ReadWholeFile(named);
}

// Reports a fault (once while it stays the same) and throws it as `Error`.
template <typename Error>
[[noreturn]] void Refuse(Machine::Impl& impl, const std::string& message) {
    if (impl.report && impl.reported != message) impl.report(message);
    impl.reported = message;
    throw Error(message);
}

// A host machine's profile as the root keeps it: QV_FIRMWARE_ATTRIBUTES and QV_DMI_TABLES, when set, point it at
// another firmware-attributes tree and other SMBIOS tables (a test's), for every process of the root alike.
std::string HostProfileText(const std::string& text) {
    Json j = Json::parse(text);
    bool changed = false;
    for (auto [variable, member] :
         {std::pair{"QV_FIRMWARE_ATTRIBUTES", "firmware_attributes"}, std::pair{"QV_DMI_TABLES", "dmi_tables"}}) {
        const char* value = std::getenv(variable);
        if (value == nullptr || *value == '\0') continue;
        j["host"][member] = fs::absolute(value).string();
        changed = true;
    }
    return changed ? j.dump(1) : text;
}

// A host machine needs the kernel's firmware-attributes class.
void CheckHostFirmware(const Profile& profile) {
    if (!FirmwareAttributeDrivers(profile.hostAttributes).empty()) return;
    std::error_code ec;
    throw std::runtime_error(
        "this PC has no firmware settings through the kernel: " + profile.hostAttributes +
        (fs::exists(profile.hostAttributes, ec) ? " holds no driver with an attributes folder"
                                                : " does not exist (the firmware-attributes class is missing)") +
        "; a firmware-attributes driver of the PC's maker must be loaded, or QV_FIRMWARE_ATTRIBUTES name a tree");
}

// Makes the machine of a root that has none from QV_MACHINE. On any failure nothing of it is left behind (the
// folder and its lock stay: another process may be waiting on the lock).
void MakeMachine(Machine::Impl& impl, const fs::path& profilePath) {
    const fs::path written[] = {impl.dir / "flash.bin", impl.state_path};
    try {
        const char* env = std::getenv("QV_MACHINE");
        std::string named = env != nullptr && *env != '\0' ? env : "desktop";
        std::string text = ProfileText(named);
        Profile profile = ParseProfile(text, named);
        if (profile.host) {
            text = HostProfileText(text);
            profile = ParseProfile(text, named);
            CheckHostFirmware(profile);
        }
        Json state = InitialState(profile);
        WriteFileAtomically(written[0], InitialFlash(profile, state));
        WriteFileAtomically(written[1], StateText(state));
        WriteFileAtomically(profilePath, text);  // last: its presence marks a complete machine
    } catch (const std::exception& e) {
        std::error_code ignored;
        for (const auto& file : written) fs::remove(file, ignored);
        Refuse<MachineNotMade>(impl,
                               std::string("no machine made for ") + impl.dir.parent_path().string() + ": " + e.what());
    }
}

std::unique_ptr<Machine::Impl> OpenMachine(const fs::path& root, FaultReport report) {
    auto impl = std::make_unique<Machine::Impl>();
    impl->dir = root / "machine";
    impl->lock_path = impl->dir / "lock";
    impl->state_path = impl->dir / "state.json";
    impl->report = std::move(report);
    fs::path profilePath = impl->dir / "profile.json";
    try {
        CreatePrivateFolder(impl->dir);
    } catch (const std::exception& e) {
        Refuse<MachineNotMade>(*impl, e.what());
    }
    FileLock opening(impl->lock_path);
    RemoveTemporaryFiles(impl->dir);  // of a write that a killed process left unfinished
    if (!fs::exists(profilePath)) MakeMachine(*impl, profilePath);
    try {
        impl->lock = std::make_unique<SharedLock>(impl->lock_path);
    } catch (const MachineUnavailable& e) {
        Refuse<MachineUnavailable>(*impl, e.what());
    }
    std::error_code ignored;
    fs::remove(impl->dir / "generation", ignored);  // an older root's change counter, now in the lock's page
    try {
        impl->profile = ParseProfile(ReadWholeFile(profilePath), profilePath.string());
    } catch (const std::exception& e) {
        Refuse<MachineUnavailable>(*impl, e.what());
    }
    impl->catalogue = BuildCatalogue(impl->profile);
    return impl;
}

}  // namespace

namespace {

std::function<void(WriteStep)>& StepObserver() {
    static std::function<void(WriteStep)> observer;
    return observer;
}

void Reached(WriteStep step) {
    if (StepObserver()) StepObserver()(step);
}

}  // namespace

void ObserveWriteStepsForTesting(std::function<void(WriteStep)> observer) { StepObserver() = std::move(observer); }

fs::path TemporaryFileOf(const fs::path& path) {
    fs::path temp = path;
    temp += ".tmp";
    return temp;
}

void RemoveTemporaryFiles(const fs::path& dir) {
    std::error_code ec;
    for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
        if (it->path().extension() == ".tmp") fs::remove(it->path(), ec);
}

void WriteFileAtomically(const fs::path& path, const std::string& data) {
    // One name per file: every write happens under the machine's lock, and a process killed in the middle of
    // one leaves at most this file, which the next write replaces and the next opening removes.
    const fs::path temp = TemporaryFileOf(path);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) throw std::runtime_error("cannot write " + temp.string() + ": " + std::strerror(errno));
    Reached(WriteStep::kOpened);
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int err = errno;
            ::close(fd);
            ::unlink(temp.c_str());
            throw std::runtime_error("cannot write " + temp.string() + ": " + std::strerror(err));
        }
        done += static_cast<size_t>(n);
    }
    Reached(WriteStep::kWritten);
    auto failed = [&](int err) {
        ::unlink(temp.c_str());
        throw std::runtime_error("cannot replace " + path.string() + ": " + std::strerror(err));
    };
    if (::fsync(fd) != 0) {
        int err = errno;
        ::close(fd);
        failed(err);
    }
    Reached(WriteStep::kSynced);
    if (::close(fd) != 0) failed(errno);
    Reached(WriteStep::kClosed);
    if (::rename(temp.c_str(), path.c_str()) != 0) failed(errno);
    Reached(WriteStep::kRenamed);
    // The rename itself lasts only once the folder is on the disk too; a failure here changes nothing of what
    // the file holds now, so it is not one.
    int folder = ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    Reached(WriteStep::kFolderSynced);
}

std::string ReadWholeFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

Machine::Machine(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Machine::~Machine() = default;

std::shared_ptr<Machine> Machine::Open(const fs::path& root, FaultReport report) {
    return std::make_shared<Machine>(OpenMachine(root, std::move(report)));
}

std::optional<WindowsDescription> Machine::ReadInstalledWindows(const fs::path& root, const FaultReport& report) {
    fs::path profilePath = root / "machine" / "profile.json";
    // profile.json is written last when a machine is made: without it, the root has no machine yet.
    if (!fs::exists(profilePath)) return std::nullopt;
    try {
        return ParseInstalledWindows(ReadWholeFile(profilePath), profilePath.string());
    } catch (const std::exception& e) {
        if (report) report(e.what());
        throw MachineUnavailable(e.what());
    }
}

const WindowsDescription& Machine::Windows() const { return impl_->profile.windows; }
const std::string& Machine::ProfileName() const { return impl_->profile.name; }

// Reads the state file again when this process has not parsed it since the counter last moved.
void Machine::Impl::Refresh(uint64_t generation) {
    if (state_known && generation == seen_generation) return;
    state_known = false;
    std::string where = "machine state " + state_path.string();
    try {
        state = ParseState(ReadWholeFile(state_path), profile);
    } catch (const FieldFault& fault) {
        Refuse<MachineUnavailable>(*this, Describe(where, fault));
    } catch (const std::runtime_error&) {
        Refuse<MachineUnavailable>(*this, where + ": cannot be read");
    }
    seen_generation = generation;
}

void Machine::Transact(const std::function<void(Firmware&)>& call) {
    Held held(*impl_->lock);
    uint64_t generation = impl_->lock->Generation();
    if (held.HolderDied()) {
        // A process was killed in the middle of a transaction. The state file it may have been replacing is
        // whole (before or after), its temporary file is not; every process reads the file again.
        RemoveTemporaryFiles(impl_->dir);
        impl_->lock->SetGeneration(++generation);
    }
    impl_->Refresh(generation);
    // Unknown while the call runs: a call that fails may leave the state in memory half-changed, and a child
    // forked by another thread meanwhile must not take it for the machine's.
    impl_->state_known = false;
    SimulatedFirmware firmware(impl_->profile, impl_->catalogue, impl_->rom_area, impl_->state, impl_->dir);
    if (impl_->profile.host) {
        HostFirmware host(impl_->profile, firmware, impl_->host_session);
        call(host);
    } else {
        call(firmware);
    }
    if (firmware.StateChanged()) {
        WriteFileAtomically(impl_->state_path, StateText(impl_->state));
        impl_->seen_generation = generation + 1;
        impl_->lock->SetGeneration(impl_->seen_generation);
    }
    impl_->state_known = true;
}

void Machine::StateReplacedOutside() {
    Held held(*impl_->lock);
    impl_->lock->SetGeneration(impl_->lock->Generation() + 1);
    impl_->state_known = false;
}

void ValidateProfile(const std::string& text) { ParseProfile(text, "(text)"); }

}  // namespace qv::machine
