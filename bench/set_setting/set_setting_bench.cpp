// set_setting_bench: what one change of a setting costs.
//   road: `wmi call QVPROV_BIOSSettingInterface... SetBIOSSetting Name=... Value=...` on a generated machine,
//         warm (the service, vrxBIOS and its driver already run), the value flipped on every call so that
//         every call writes the firmware;
//   library: the library loaded by path on its own root with the same machine: the commit alone
//         (BiosSettingsSetItemInfo of an edited record), what the provider asks of the library for one
//         call (read every setting, find the record, edit, commit, release), and that read with nothing
//         written between.
// Prints medians and fastest runs, and the road's median over each library figure.
//
//   set_setting_bench [--runs N] [SIZE]     (size defaults to 500 generated settings)

#include "ServerRegistration.h"
#include "ZmrMC.h"
#include "generated_profile.h"

#include "objbase.h"
#include "qv_system_root.h"
#include "windows.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kBuild = QV_BUILD_TREE;
const std::string kSource = QV_SOURCE_TREE;
const std::string kInterface = "QVPROV_BIOSSettingInterface.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"";
const char* const kSetting = "Setting 0000";  // an enumeration of the generated machine: Disable, Enable

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs a program with its standard output in `out`; at most two minutes. The exit code (-2: killed).
int Run(const std::vector<std::string>& args, const fs::path& out) {
    pid_t pid = fork();
    if (pid == 0) {
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(open("/dev/null", O_RDONLY), 0);
        dup2(o, 1);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    auto deadline = Clock::now() + 120s;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -2;
        }
        std::this_thread::sleep_for(200us);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The processes whose environment names `root` as their system root.
std::vector<pid_t> RootProcesses(const fs::path& root) {
    std::vector<pid_t> found;
    std::string marker = "QV_SYSTEM_ROOT=" + root.string();
    marker.push_back('\0');
    DIR* proc = opendir("/proc");
    while (dirent* entry = readdir(proc)) {
        pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0 || pid == getpid()) continue;
        std::string environ = ReadText("/proc/" + std::to_string(pid) + "/environ") + '\0';
        if (environ.find(marker) != std::string::npos) found.push_back(pid);
    }
    closedir(proc);
    return found;
}

struct Figures {
    double median = 0, fastest = 0;
};
Figures Summarise(std::vector<double> runs) {
    std::sort(runs.begin(), runs.end());
    return {runs[runs.size() / 2], runs.front()};
}
Figures Time(int runs, const std::function<void(int)>& once) {
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        auto start = Clock::now();
        once(r);
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return Summarise(times);
}

// A fresh folder with the generated profile; removed with everything that runs on its root.
class Machine {
public:
    explicit Machine(int settings) {
        char pattern[] = "/tmp/qv-set-setting-XXXXXX";
        if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
        root_ = dir_ / "root";
        std::ofstream(dir_ / "generated.json") << GeneratedProfile(settings);
        setenv("QV_SYSTEM_ROOT", root_.c_str(), 1);
        setenv("QV_MACHINE", (dir_ / "generated.json").c_str(), 1);
        qv::win::ResetSystemRootForTesting();
    }
    ~Machine() {
        for (pid_t pid : RootProcesses(root_)) kill(pid, SIGTERM);
        std::this_thread::sleep_for(100ms);
        for (pid_t pid : RootProcesses(root_)) kill(pid, SIGKILL);
        fs::remove_all(dir_);
    }
    const fs::path& dir() const { return dir_; }

private:
    fs::path dir_, root_;
};

Figures Road(int settings, int runs) {
    Machine machine(settings);
    setenv("QV_WBEM_SERVICE", (kBuild + "/bin/winmgmt").c_str(), 1);
    setenv("QV_WBEM_SERVICE_IDLE_MS", "120000", 1);
    setenv("QV_WBEM_PROVIDER_IDLE_MS", "120000", 1);
    for (const char* mof : {"common.mof", "swprov.mof"})
        if (Run({kBuild + "/bin/mofcomp", kSource + "/mof/" + mof}, machine.dir() / "mofcomp.out") != 0)
            throw std::runtime_error(std::string("mofcomp failed on ") + mof);
    if (RegisterServer(qv::win::FromUtf8(kBuild + "/bin/vrxBIOS").c_str()) != S_OK)
        throw std::runtime_error("RegisterServer failed");
    auto call = [&](int r) {
        fs::path out = machine.dir() / "wmi.out";
        std::string value = r % 2 == 0 ? "Disable" : "Enable";
        if (Run({kBuild + "/bin/wmi", "call", kInterface, "SetBIOSSetting", std::string("Name=") + kSetting,
                 "Value=" + value},
                out) != 0 ||
            ReadText(out).find("Return = 0") == std::string::npos)
            throw std::runtime_error("SetBIOSSetting failed: " + ReadText(out));
    };
    call(1);  // starts the service, the provider and its driver
    return Time(runs, call);
}

struct LibraryFigures {
    Figures commit, call, read;
};

LibraryFigures Library(int settings, int runs) {
    Machine machine(settings);
    setenv("QV_DRIVER_WATCH_PID", std::to_string(getpid()).c_str(), 1);
    HMODULE module = LoadLibraryW(qv::win::FromUtf8(kBuild + "/lib/libZmrMC.so").c_str());
    if (module == nullptr) throw std::runtime_error("the library could not be loaded");
    auto get = [&](const char* name) {
        void* p = reinterpret_cast<void*>(GetProcAddress(module, name));
        if (p == nullptr) throw std::runtime_error(std::string("no export ") + name);
        return p;
    };
    auto init = reinterpret_cast<decltype(&ZmrMCInit)>(get("ZmrMCInit"));
    auto read = reinterpret_cast<decltype(&BiosSettingsReadFromSystem)>(get("BiosSettingsReadFromSystem"));
    auto release = reinterpret_cast<decltype(&BiosSRIRelease)>(get("BiosSRIRelease"));
    auto id = reinterpret_cast<decltype(&BiosSettingsFindIDFromString)>(get("BiosSettingsFindIDFromString"));
    auto find = reinterpret_cast<decltype(&BiosSettingsFindSRI)>(get("BiosSettingsFindSRI"));
    auto commit = reinterpret_cast<decltype(&BiosSettingsSetItemInfo)>(get("BiosSettingsSetItemInfo"));
    if (!init(0, 1)) throw std::runtime_error("ZmrMCInit failed");
    // Flips the setting's current index and commits it; the firmware's write is checked.
    auto flip = [&](bool readFirst) {
        if (readFirst) read(nullptr);
        uint16_t name = 0;
        id(&name, kSetting);
        SRI* record = find(name, nullptr);
        uint16_t index;
        std::memcpy(&index, reinterpret_cast<uint8_t*>(record) + offsetof(SRI, currentIndex), 2);
        index = index == 0 ? 1 : 0;
        std::memcpy(reinterpret_cast<uint8_t*>(record) + offsetof(SRI, currentIndex), &index, 2);
        if (!commit(record, nullptr)) throw std::runtime_error("the commit failed");
        if (readFirst) release();
    };
    LibraryFigures figures;
    // The commit prints its enumeration fragment on standard output: out of the way of the figures.
    std::fflush(stdout);
    int saved = dup(1);
    dup2(open("/dev/null", O_WRONLY), 1);
    read(nullptr);
    flip(false);
    figures.commit = Time(runs, [&](int) { flip(false); });
    release();
    figures.call = Time(runs, [&](int) { flip(true); });
    figures.read = Time(runs, [&](int) {  // the same read with nothing written between
        read(nullptr);
        release();
    });
    std::fflush(stdout);
    dup2(saved, 1);
    FreeLibrary(module);  // stops and removes the driver
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 21, settings = 500;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::atoi(a.c_str()) > 0)
            settings = std::atoi(a.c_str());
        else {
            std::fprintf(stderr, "usage: set_setting_bench [--runs N] [SIZE]\n");
            return 2;
        }
    }
    if (CoInitializeEx(nullptr, COINIT_MULTITHREADED) != S_OK) return 1;
    try {
        Figures road = Road(settings, runs);
        LibraryFigures library = Library(settings, runs);
        std::printf("%d settings, %d runs each (medians, fastest in brackets):\n", settings, runs);
        std::printf("  SetBIOSSetting round trip, warm:         %8.2f ms (%8.2f)\n", road.median, road.fastest);
        std::printf("  library: read, find, commit, release:    %8.2f ms (%8.2f)\n", library.call.median,
                    library.call.fastest);
        std::printf("  library: the commit alone:               %8.2f ms (%8.2f)\n", library.commit.median,
                    library.commit.fastest);
        std::printf("  library: read and release, nothing written: %5.2f ms (%8.2f)\n", library.read.median,
                    library.read.fastest);
        std::printf("  round trip / commit alone: x%.1f; round trip / library's part of a call: x%.1f\n",
                    road.median / library.commit.median, road.median / library.call.median);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "set_setting_bench: %s\n", e.what());
        CoUninitialize();
        return 1;
    }
    CoUninitialize();
    return 0;
}
