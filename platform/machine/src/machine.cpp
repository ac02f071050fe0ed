// The machine of a system root: creation from a profile and atomic firmware transactions.

#include "machine_state.h"
#include "host_firmware.h"
#include "machine_store.h"
#include "qv_firmware.h"
#include "qv_machine.h"
#include "simulated_firmware.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
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
    // The state as last read or written by this process, kept while state.json is the same file with the
    // same size and time: a machine with thousands of objects need not parse it again for every call.
    Json state;
    struct stat stamp {};
    bool state_known = false;
    // The machine's change counter: <dir>/generation mapped shared, raised under the lock by every transaction
    // that writes the state. The file's identity, size and time alone can repeat: two replacements within one
    // tick of the file system's clock, the second reusing the first one's inode, with a file of the same size.
    uint64_t* generation = nullptr;  // null when the counter could not be mapped: the file's stamp alone
    uint64_t seen_generation = 0;    // the counter when `state` was read or written
    // The lock file stays open between transactions (one open and close less per firmware call). A child made
    // by fork shares the open file, and with it the lock: it opens its own.
    std::mutex mutex;
    int lock_fd = -1;
    unsigned lock_generation = 0;  // ForkGeneration() when lock_fd was opened
    HostSession host_session;      // a host machine's objects and unlock, in this process only
    ~Impl();
};

namespace {

// Counts the forks this process came through (1 in the first process), so that a descriptor opened before a
// fork is told apart without a system call per transaction.
std::atomic<unsigned> fork_generation{0};
unsigned ForkGeneration() {
    static std::once_flag registered;
    std::call_once(registered, [] {
        fork_generation = 1;
        pthread_atfork(nullptr, nullptr, [] { ++fork_generation; });
    });
    return fork_generation.load();
}

// Opens (creating when missing) a file of the machine for reading and writing, the owner's only: no other user
// may read the state or take the lock. A file made before that is closed again.
int OpenPrivate(const fs::path& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && (st.st_mode & 077) != 0) ::fchmod(fd, st.st_mode & 0700);
    return fd;
}

// The machine's folder, the owner's only.
void CreatePrivateFolder(const fs::path& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot create " + dir.string() + ": " + std::strerror(errno));
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0)
        ::chmod(dir.c_str(), st.st_mode & 0700);
}

// Holds the machine's lock file locked (flock) while it lives; the descriptor is the machine's.
class FileLock {
public:
    FileLock(const fs::path& path, int& fd, unsigned& generation) : fd_(fd) {
        if (fd_ >= 0 && generation != ForkGeneration()) fd_ = -1;  // inherited through fork: not ours
        if (fd_ < 0) {
            fd_ = OpenPrivate(path);
            if (fd_ < 0) throw MachineUnavailable("cannot open " + path.string() + ": " + std::strerror(errno));
            fd = fd_;
            generation = ForkGeneration();
        }
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) throw MachineUnavailable("cannot lock " + path.string() + ": " + std::strerror(errno));
        }
    }
    ~FileLock() { ::flock(fd_, LOCK_UN); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_ = -1;
};

}  // namespace

Machine::Impl::~Impl() {
    if (lock_fd >= 0 && lock_generation == ForkGeneration()) ::close(lock_fd);
    if (generation != nullptr) ::munmap(generation, sizeof(uint64_t));
}

namespace {

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

// Maps the change counter (created as 0 when missing; called under the machine's lock). Null when it cannot be.
uint64_t* MapGeneration(const fs::path& path) {
    int fd = OpenPrivate(path);
    if (fd < 0) return nullptr;
    struct stat st {};
    void* p = MAP_FAILED;
    if (::fstat(fd, &st) == 0 &&
        (st.st_size >= static_cast<off_t>(sizeof(uint64_t)) || ::ftruncate(fd, sizeof(uint64_t)) == 0))
        p = ::mmap(nullptr, sizeof(uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    return p == MAP_FAILED ? nullptr : static_cast<uint64_t*>(p);
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
    FileLock lock(impl->lock_path, impl->lock_fd, impl->lock_generation);
    RemoveTemporaryFiles(impl->dir);  // of a write that a killed process left unfinished
    if (!fs::exists(profilePath)) MakeMachine(*impl, profilePath);
    impl->generation = MapGeneration(impl->dir / "generation");
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

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_ino == b.st_ino && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

void Machine::Transact(const std::function<void(Firmware&)>& call) {
    std::lock_guard serial(impl_->mutex);  // threads of this process share the lock file's descriptor
    FileLock lock(impl_->lock_path, impl_->lock_fd, impl_->lock_generation);
    const fs::path& statePath = impl_->state_path;
    struct stat now {};
    bool stamped = ::stat(statePath.c_str(), &now) == 0;
    uint64_t generation = impl_->generation != nullptr ? __atomic_load_n(impl_->generation, __ATOMIC_ACQUIRE) : 0;
    if (!impl_->state_known || !stamped || !SameFile(now, impl_->stamp) || generation != impl_->seen_generation) {
        impl_->state_known = false;
        std::string where = "machine state " + statePath.string();
        try {
            impl_->state = ParseState(ReadWholeFile(statePath), impl_->profile);
        } catch (const FieldFault& fault) {
            Refuse<MachineUnavailable>(*impl_, Describe(where, fault));
        } catch (const std::runtime_error&) {
            Refuse<MachineUnavailable>(*impl_, where + ": cannot be read");
        }
        impl_->stamp = now;
        impl_->seen_generation = generation;
        impl_->state_known = stamped;
    }
    try {
        SimulatedFirmware firmware(impl_->profile, impl_->catalogue, impl_->rom_area, impl_->state, impl_->dir);
        if (impl_->profile.host) {
            HostFirmware host(impl_->profile, firmware, impl_->host_session);
            call(host);
        } else {
            call(firmware);
        }
        if (firmware.StateChanged()) {
            impl_->state_known = false;
            WriteFileAtomically(statePath, StateText(impl_->state));
            if (impl_->generation != nullptr) {
                impl_->seen_generation = generation + 1;
                __atomic_store_n(impl_->generation, impl_->seen_generation, __ATOMIC_RELEASE);
            }
            impl_->state_known = ::stat(statePath.c_str(), &impl_->stamp) == 0;
        }
    } catch (...) {
        impl_->state_known = false;  // the state in memory may be half-changed: read the file next time
        throw;
    }
}

void ValidateProfile(const std::string& text) { ParseProfile(text, "(text)"); }

}  // namespace qv::machine
