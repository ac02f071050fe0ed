// ZmrMCFlashRomFromCAB with a signed 16 MiB image on a portable machine with a 16 MiB flash part, through the
// driver (desktop) and through the call gate (x64), the library loaded by path in a fresh system root per
// run. Reported: the wall time of the flash (saved copy, write, read-back) and the flashing process's peak
// resident memory above what it held before the flash ("peak_MiB"; the image is 16 MiB).

#include "flash_fixtures.h"
#include "qv_machine.h"
#include "qv_system_root.h"
#include "windows.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr size_t kImage = 16u << 20;

// VmHWM or VmRSS of this process, in KiB.
long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field) + 1));
    return 0;
}

void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

void BM_Flash16MiB(benchmark::State& state, const char* base) {
    for (auto _ : state) {
        char pattern[] = "/tmp/qv-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) return state.SkipWithError("no temp folder");
        fs::path dir = pattern;
        nlohmann::json profile = nlohmann::json::parse(qv::machine::ShippedProfile(base));
        profile["flash"] = {{"size", "0x1000000"}};
        for (auto& s : profile["smbios"]["structures"])
            if (s["type"] == 3) s["fields"][1] = 10;  // portable: the image is read back
        std::ofstream(dir / "profile.json") << profile.dump();
        setenv("QV_SYSTEM_ROOT", (dir / "root").c_str(), 1);
        setenv("QV_MACHINE", (dir / "profile.json").c_str(), 1);
        setenv("QV_DRIVER_WATCH_PID", std::to_string(getpid()).c_str(), 1);
        qv::win::ResetSystemRootForTesting();
        {
            Bytes image = TestImage(kImage, 16);
            WriteBytes(dir / "NEW.BIN", image);
            WriteBytes(dir / "NEW.SIG", Sign(image, SigningKey()));
        }
        std::wstring path = qv::win::FromUtf8(std::string(QV_BUILD_TREE) + "/lib/libZmrMC.so");
        HMODULE module = LoadLibraryW(path.c_str());
        auto init = reinterpret_cast<int (*)(int, int)>(GetProcAddress(module, "ZmrMCInit"));
        auto flash = reinterpret_cast<int (*)(const char*, const char*)>(
            GetProcAddress(module, "ZmrMCFlashRomFromCAB"));
        if (module == nullptr || init == nullptr || flash == nullptr || init(0, 1) != 1)
            return state.SkipWithError("the library did not load");
        ResetPeak();
        long before = StatusKiB("VmRSS:");
        auto start = std::chrono::steady_clock::now();
        int status = flash((dir / "NEW.BIN").c_str(), "");
        auto end = std::chrono::steady_clock::now();
        long peak = StatusKiB("VmHWM:");
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        state.counters["peak_MiB"] = static_cast<double>(peak - before) / 1024.0;
        FreeLibrary(module);
        fs::remove_all(dir);
        if (status != 0) return state.SkipWithError(("flash status " + std::to_string(status)).c_str());
    }
}

BENCHMARK_CAPTURE(BM_Flash16MiB, Driver, "desktop")->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Flash16MiB, Gate, "x64")->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
