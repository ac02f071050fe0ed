// BiosSettingsReadFromSystem on a generated desktop with N native system objects (all types but the string
// table mixed evenly), the library loaded by path in a fresh system root per machine size. Reported per
// object ("per_object", the wall time of one full read divided by N) so that sizes compare directly.
// BM_DriverRoundTrip: one driver request alone (the 20-byte information of one object), the unit a read is
// made of (two per object).

#include "ZmrMC.h"
#include "generated_profile.h"
#include "qv_system_root.h"
#include "windows.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// One loaded library over one generated machine; replaced when another size is asked for.
struct LoadedMachine {
    int count = 0;
    fs::path root;
    HMODULE module = nullptr;
    decltype(&BiosSettingsReadFromSystem) read = nullptr;
    decltype(&BiosSRIRelease) release = nullptr;
    decltype(&BiosSettingsSRIEnumCount) records = nullptr;
    decltype(&ZmrMCGetSysObjInfo) info = nullptr;

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
        read = reinterpret_cast<decltype(read)>(GetProcAddress(module, "BiosSettingsReadFromSystem"));
        release = reinterpret_cast<decltype(release)>(GetProcAddress(module, "BiosSRIRelease"));
        records = reinterpret_cast<decltype(records)>(GetProcAddress(module, "BiosSettingsSRIEnumCount"));
        info = reinterpret_cast<decltype(info)>(GetProcAddress(module, "ZmrMCGetSysObjInfo"));
        if (init == nullptr || read == nullptr || release == nullptr || records == nullptr || info == nullptr ||
            !init(0, 1))
            return false;
        count = objects;
        return true;
    }
    ~LoadedMachine() { Unload(); }
};

LoadedMachine machine;

void BM_ReadAllSettings(benchmark::State& state) {
    int objects = static_cast<int>(state.range(0));
    if (machine.count != objects && !machine.Load(objects)) {
        state.SkipWithError("the generated machine could not be loaded");
        return;
    }
    for (auto _ : state) {
        if (!machine.read(nullptr)) {
            state.SkipWithError("the read failed");
            break;
        }
        machine.release();
    }
    // The English string table is a record too; every generated object becomes one.
    state.counters["records"] = machine.records();
    state.counters["per_object"] = benchmark::Counter(
        objects, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_DriverRoundTrip(benchmark::State& state) {
    if (machine.count != 500 && !machine.Load(500)) {
        state.SkipWithError("the generated machine could not be loaded");
        return;
    }
    unsigned char block[20];
    uint16_t index = 1;
    for (auto _ : state) {
        if (!machine.info(index, block, sizeof block)) {
            state.SkipWithError("the request failed");
            break;
        }
        index = static_cast<uint16_t>(index % 500 + 1);
    }
}

}  // namespace

// Wall time: the read waits on the driver process, which CPU time of this process does not see.
BENCHMARK(BM_ReadAllSettings)->Arg(500)->Arg(1000)->Arg(2000)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DriverRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
