// query_road_bench: times the settings query road end to end. For each size it makes a fresh system root
// from a generated machine profile, compiles the schema, registers vrxBIOS, and runs the client tool
// (build/bin/wmi, default table output) with a WQL query of every setting:
//   warm: the service and vrxBIOS (with its driver) already run from an earlier query;
//   cold: neither vrxBIOS nor its driver runs (the service does): the provider starts, writes out and binds
//         the library, which starts its driver, then answers.
// Prints the median and the fastest run of each, and the ratios between sizes.
//
//   query_road_bench [--runs N] [--query WQL] [--keep] [SIZE...]     (sizes default to 500 5000)
//
// --keep leaves the roots (and their running processes) for profiling and prints their paths.

#include "ServerRegistration.h"
#include "generated_profile.h"

#include "objbase.h"
#include "qv_system_root.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
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
const std::string kEverySetting = "select * from QV_BIOSSetting";

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// CPU time (user and system) of the client runs so far, in milliseconds.
double client_cpu_ms = 0;

// Runs a program with its standard output in `out`; waits at most two minutes. Returns the exit code (-2
// when it had to be killed). Adds the program's CPU time to client_cpu_ms.
int Run(const std::vector<std::string>& args, const fs::path& out) {
    pid_t pid = fork();
    if (pid == 0) {
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(o, 1);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    auto deadline = Clock::now() + 120s;
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, WNOHANG, &usage) == 0) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -2;
        }
        std::this_thread::sleep_for(200us);
    }
    client_cpu_ms += (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                     (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The processes whose environment names `root` as their system root, with their program names.
std::map<pid_t, std::string> RootProcesses(const fs::path& root) {
    std::map<pid_t, std::string> found;
    std::string marker = "QV_SYSTEM_ROOT=" + root.string();
    DIR* proc = opendir("/proc");
    while (dirent* entry = readdir(proc)) {
        pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0 || pid == getpid()) continue;
        std::string environ = ReadText("/proc/" + std::to_string(pid) + "/environ");
        std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
        auto close = stat.rfind(')');
        if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z') continue;
        for (size_t start = 0; start < environ.size();) {
            size_t end = environ.find('\0', start);
            if (end == std::string::npos) end = environ.size();
            if (environ.compare(start, end - start, marker) == 0) {
                std::error_code ec;
                found[pid] = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).filename().string();
            }
            start = end + 1;
        }
    }
    closedir(proc);
    return found;
}

bool Running(const fs::path& root, const std::string& program) {
    for (const auto& [pid, name] : RootProcesses(root))
        if (name == program) return true;
    return false;
}

// CPU time (user and system, ended threads included) each program running on the root has used so far, in
// milliseconds, from /proc/<pid>/stat (clock ticks: run several queries for a usable figure).
std::map<std::string, double> ProgramCpu(const fs::path& root) {
    std::map<std::string, double> cpu;
    double tick_ms = 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
    for (const auto& [pid, name] : RootProcesses(root)) {
        std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
        auto close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(stat.substr(close + 2));
        std::string field;
        double utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {  // fields 14 and 15: utime, stime
            if (i == 14) utime = std::atof(field.c_str());
            if (i == 15) stime = std::atof(field.c_str());
        }
        cpu[name] += (utime + stime) * tick_ms;
    }
    return cpu;
}

// Waits (at most 20 s) until neither vrxBIOS nor its driver runs on the root.
bool WaitForProviderExit(const fs::path& root) {
    auto deadline = Clock::now() + 20s;
    while (Clock::now() < deadline) {
        if (!Running(root, "vrxBIOS") && !Running(root, "zmrdtct")) return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

// One generated machine on its own root.
class Road {
public:
    Road(int settings, int providerIdleMs) : settings_(settings) {
        char pattern[] = "/tmp/qv-query-road-XXXXXX";
        if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
        root_ = dir_ / "root";
        fs::path profile = dir_ / "generated.json";
        std::ofstream(profile) << GeneratedProfile(settings);
        setenv("QV_SYSTEM_ROOT", root_.c_str(), 1);
        setenv("QV_MACHINE", profile.c_str(), 1);
        setenv("QV_WBEM_SERVICE", (kBuild + "/bin/winmgmt").c_str(), 1);
        setenv("QV_WBEM_SERVICE_IDLE_MS", "120000", 1);
        setenv("QV_WBEM_PROVIDER_IDLE_MS", std::to_string(providerIdleMs).c_str(), 1);
        qv::win::ResetSystemRootForTesting();
        for (const char* mof : {"common.mof", "swprov.mof"})
            if (Run({kBuild + "/bin/mofcomp", kSource + "/mof/" + mof}, dir_ / "mofcomp.out") != 0)
                throw std::runtime_error(std::string("mofcomp failed on ") + mof);
        std::wstring program = qv::win::FromUtf8(kBuild + "/bin/vrxBIOS");
        if (RegisterServer(program.c_str()) != S_OK) throw std::runtime_error("RegisterServer failed");
    }
    ~Road() {
        if (keep_) {
            std::printf("kept root %s\n", root_.c_str());
            return;
        }
        for (const auto& [pid, name] : RootProcesses(root_)) kill(pid, SIGTERM);
        std::this_thread::sleep_for(100ms);
        for (const auto& [pid, name] : RootProcesses(root_)) kill(pid, SIGKILL);
        fs::remove_all(dir_);
    }
    void Keep() { keep_ = true; }

    // One client query, timed; throws when it fails or shows the wrong number of settings.
    // `all_settings`: the query asks for every setting, so it must show every published one.
    double Query(const std::string& wql, bool check, bool all_settings) {
        setenv("QV_SYSTEM_ROOT", root_.c_str(), 1);
        fs::path out = dir_ / "wmi.out";
        std::vector<std::string> args = {kBuild + "/bin/wmi"};
        if (check) args.insert(args.end(), {"--format", "list"});
        args.insert(args.end(), {"query", wql});
        auto start = Clock::now();
        int code = Run(args, out);
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (code != 0) throw std::runtime_error("wmi failed with exit code " + std::to_string(code));
        if (check) {
            std::string text = ReadText(out);
            int shown = 0;
            for (size_t at = text.find("Name = "); at != std::string::npos; at = text.find("Name = ", at + 1))
                if (at == 0 || text[at - 1] == '\n') ++shown;
            if (shown == 0 || (all_settings && shown != PublishedSettings(settings_)))
                throw std::runtime_error("the query showed " + std::to_string(shown) + " settings, not " +
                                         std::to_string(PublishedSettings(settings_)));
        }
        return ms;
    }
    const fs::path& root() const { return root_; }

private:
    int settings_;
    fs::path dir_, root_;
    bool keep_ = false;
};

struct Figures {
    double median = 0, fastest = 0;
};

Figures Summarise(std::vector<double> runs) {
    std::sort(runs.begin(), runs.end());
    return {runs[runs.size() / 2], runs.front()};
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 7;
    bool keep = false;
    std::string wql = kEverySetting;
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--query" && i + 1 < argc)
            wql = argv[++i];
        else if (a == "--keep")
            keep = true;
        else if (std::atoi(a.c_str()) > 0)
            sizes.push_back(std::atoi(a.c_str()));
        else {
            std::fprintf(stderr, "usage: query_road_bench [--runs N] [--query WQL] [--keep] [SIZE...]\n");
            return 2;
        }
    }
    if (sizes.empty()) sizes = {500, 5000};
    if (CoInitializeEx(nullptr, COINIT_MULTITHREADED) != S_OK) return 1;
    std::map<int, Figures> warm, cold;
    try {
        for (int size : sizes) {
            {
                Road road(size, 120000);
                if (keep) road.Keep();
                // Starts the service and the provider, and checks the answer.
                road.Query(wql, true, wql == kEverySetting);
                std::vector<double> times;
                auto before = ProgramCpu(road.root());
                double client_before = client_cpu_ms;
                for (int r = 0; r < runs; ++r) times.push_back(road.Query(wql, false, false));
                auto after = ProgramCpu(road.root());
                warm[size] = Summarise(times);
                std::printf("%6d settings, CPU per warm query: wmi %.1f ms", size,
                            (client_cpu_ms - client_before) / runs);
                for (const auto& [name, ms] : after)
                    std::printf(", %s %.1f ms", name.c_str(), (ms - before[name]) / runs);
                std::printf("\n");
            }
            {
                Road road(size, 100);
                road.Query(wql, true, wql == kEverySetting);  // starts the service
                std::vector<double> times;
                for (int r = 0; r < runs; ++r) {
                    if (!WaitForProviderExit(road.root())) throw std::runtime_error("vrxBIOS did not exit");
                    times.push_back(road.Query(wql, false, false));
                }
                cold[size] = Summarise(times);
            }
            std::printf(
                "%6d settings (%d published): warm median %8.1f ms (fastest %8.1f), "
                "cold median %8.1f ms (fastest %8.1f)\n",
                size, PublishedSettings(size), warm[size].median, warm[size].fastest, cold[size].median,
                cold[size].fastest);
            std::fflush(stdout);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "query_road_bench: %s\n", e.what());
        CoUninitialize();
        return 1;
    }
    for (size_t i = 1; i < sizes.size(); ++i) {
        int a = sizes[i - 1], b = sizes[i];
        std::printf("%d -> %d settings (x%.1f): warm x%.2f, cold x%.2f\n", a, b, double(b) / a,
                    warm[b].median / warm[a].median, cold[b].median / cold[a].median);
    }
    CoUninitialize();
    return 0;
}
