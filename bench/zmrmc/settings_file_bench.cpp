// The settings file on generated desktops of N settings (bench/support), the library loaded by path in a
// fresh system root per machine size and the settings read once: saving the text file, saving the XML
// document, reading a saved text file back into the records, and applying a file (read and commit). Reported per setting ("per_setting", the
// wall time of one operation divided by N) so that sizes compare directly: growth is linear when it stays
// flat from 1 000 to 5 000.

#include "ZmrMC.h"
#include "generated_profile.h"
#include "qv_system_root.h"
#include "windows.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct LoadedMachine {
    int count = 0;
    fs::path root;
    HMODULE module = nullptr;
    decltype(&BiosSettingsWriteToFile) write = nullptr;
    decltype(&BiosSettingsReadFromFile) read = nullptr;
    decltype(&BiosSettingsWriteToSystem) commit = nullptr;

    void Unload() {
        if (module != nullptr) FreeLibrary(module);  // stops and removes the driver
        module = nullptr;
        if (!root.empty()) fs::remove_all(root);
        root.clear();
        count = 0;
    }
    bool Load(int objects) {
        Unload();
        char pattern[] = "/tmp/qv-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) return false;
        root = pattern;
        fs::path profile = root / "generated.json";
        std::ofstream(profile) << GeneratedProfile(objects);
        setenv("QV_SYSTEM_ROOT", (root / "root").c_str(), 1);
        setenv("QV_MACHINE", profile.c_str(), 1);
        setenv("QV_DRIVER_WATCH_PID", std::to_string(getpid()).c_str(), 1);
        qv::win::ResetSystemRootForTesting();
        std::wstring path = qv::win::FromUtf8(std::string(QV_BUILD_TREE) + "/lib/libZmrMC.so");
        module = LoadLibraryW(path.c_str());
        if (module == nullptr) return false;
        auto init = reinterpret_cast<decltype(&ZmrMCInit)>(GetProcAddress(module, "ZmrMCInit"));
        auto read_system = reinterpret_cast<decltype(&BiosSettingsReadFromSystem)>(
            GetProcAddress(module, "BiosSettingsReadFromSystem"));
        write = reinterpret_cast<decltype(write)>(GetProcAddress(module, "BiosSettingsWriteToFile"));
        read = reinterpret_cast<decltype(read)>(GetProcAddress(module, "BiosSettingsReadFromFile"));
        commit = reinterpret_cast<decltype(commit)>(GetProcAddress(module, "BiosSettingsWriteToSystem"));
        if (init == nullptr || read_system == nullptr || write == nullptr || read == nullptr || commit == nullptr ||
            !init(0, 1) || !read_system(nullptr))
            return false;
        count = objects;
        return true;
    }
    std::string File(const char* name) const { return (root / name).string(); }
    ~LoadedMachine() { Unload(); }
};

LoadedMachine machine;

bool Ready(benchmark::State& state) {
    int objects = static_cast<int>(state.range(0));
    if (machine.count == objects || machine.Load(objects)) return true;
    state.SkipWithError("the generated machine could not be loaded");
    return false;
}

void PerSetting(benchmark::State& state) {
    state.counters["per_setting"] = benchmark::Counter(
        static_cast<double>(state.range(0)),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_SaveTextFile(benchmark::State& state) {
    if (!Ready(state)) return;
    std::string file = machine.File("saved.txt");
    for (auto _ : state) {
        if (!machine.write(file.c_str(), 1, nullptr)) {
            state.SkipWithError("the save failed");
            break;
        }
    }
    state.counters["bytes"] = static_cast<double>(fs::file_size(file));
    PerSetting(state);
}

void BM_SaveXmlDocument(benchmark::State& state) {
    if (!Ready(state)) return;
    std::string file = machine.File("saved.xml");
    for (auto _ : state) {
        if (!machine.write(file.c_str(), 0, nullptr)) {
            state.SkipWithError("the save failed");
            break;
        }
    }
    state.counters["bytes"] = static_cast<double>(fs::file_size(file));
    PerSetting(state);
}

void BM_ReadTextFile(benchmark::State& state) {
    if (!Ready(state)) return;
    std::string file = machine.File("read.txt");
    if (!machine.write(file.c_str(), 1, nullptr)) {
        state.SkipWithError("the save failed");
        return;
    }
    for (auto _ : state) {
        if (!machine.read(file.c_str(), nullptr)) {
            state.SkipWithError("the read failed");
            break;
        }
    }
    PerSetting(state);
}

// `text` (a saved settings file) with every enumeration's "*" moved to the choice after it (the first one
// after the last): a file that changes every enumeration.
std::string EveryChoiceMoved(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind("\t*", 0) != 0) continue;
        size_t first = i, last = i;
        while (first > 0 && lines[first - 1].rfind("\t", 0) == 0) --first;
        while (last + 1 < lines.size() && lines[last + 1].rfind("\t", 0) == 0) ++last;
        if (first == last) continue;
        size_t next = i == last ? first : i + 1;
        lines[i] = "\t" + lines[i].substr(2);
        lines[next] = "\t*" + lines[next].substr(1);
        i = last;
    }
    std::string out;
    for (const auto& line : lines) out += line + "\r\n";
    return out;
}

// Applying a file: read into the records, then every record it sets committed (compared with the firmware,
// written where it differs, read back). Iterations alternate between the saved file and one that changes
// every enumeration, so each applies a full set of changes.
void BM_ApplyTextFile(benchmark::State& state) {
    if (!Ready(state)) return;
    std::string saved = machine.File("apply-a.txt"), moved = machine.File("apply-b.txt");
    if (!machine.write(saved.c_str(), 1, nullptr)) {
        state.SkipWithError("the save failed");
        return;
    }
    std::ifstream in(saved, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(moved, std::ios::binary) << EveryChoiceMoved(text);
    bool flip = true;
    for (auto _ : state) {
        if (!machine.read((flip ? moved : saved).c_str(), nullptr) || !machine.commit(nullptr)) {
            state.SkipWithError("the apply failed");
            break;
        }
        flip = !flip;
    }
    PerSetting(state);
}

}  // namespace

BENCHMARK(BM_ApplyTextFile)->Arg(1000)->Arg(2000)->Arg(5000)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveTextFile)->Arg(1000)->Arg(2000)->Arg(5000)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveXmlDocument)->Arg(1000)->Arg(2000)->Arg(5000)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadTextFile)->Arg(1000)->Arg(2000)->Arg(5000)->UseRealTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
