// The MOF compiler on one wide class: a class of N properties with defaults and one instance that sets every
// property, compiled into a fresh repository per iteration (N = 1 000, 5 000, 20 000). Besides the time of
// the whole compile it reports `writers_blocked_ms`: how long another connection to the same repository
// could not begin a write transaction during the compile (a prober thread tries BEGIN IMMEDIATE every
// 100 µs without waiting), which is what an installation running beside the compiler waits for.
#include "qv_mof_compiler.h"
#include "qv_system_root.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::wstring WideClass(int properties) {
    std::wstring text = L"class Wide {\n  [key] string Id;\n";
    for (int i = 0; i < properties; ++i)
        text += L"  [read, WmiDataId(" + std::to_wstring(i + 1) + L")] uint32 P" + std::to_wstring(i) + L" = " +
                std::to_wstring(i) + L";\n";
    text += L"};\ninstance of Wide {\n  Id = \"only\";\n";
    for (int i = 0; i < properties; ++i) text += L"  P" + std::to_wstring(i) + L" = " + std::to_wstring(i + 1) + L";\n";
    return text + L"};\n";
}

// Measures, from its own connection, for how long writers are kept out of the repository.
class WriterProbe {
public:
    explicit WriterProbe(const fs::path& database) {
        if (sqlite3_open_v2(database.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) return;
        thread_ = std::thread([this] { Run(); });
    }
    ~WriterProbe() { Stop(); }
    double Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (db_) sqlite3_close(db_);
        db_ = nullptr;
        return std::chrono::duration<double, std::milli>(blocked_).count();
    }

private:
    void Run() {
        while (!stop_) {
            Clock::time_point start = Clock::now();
            bool refused = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK;
            if (!refused) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            std::this_thread::sleep_for(std::chrono::microseconds(100));
            if (refused) blocked_ += Clock::now() - start;
        }
    }

    sqlite3* db_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    Clock::duration blocked_{};
};

fs::path benchRoot;

void BM_CompileWideClass(benchmark::State& state) {
    const std::wstring text = WideClass(static_cast<int>(state.range(0)));
    qv::wbem::MofOptions options;
    options.defaultNamespace = L"root\\cimv2";
    double blocked = 0;
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::path root = benchRoot / ("r" + std::to_string(state.range(0)) + "-" + std::to_string(round++));
        auto repository = qv::wbem::Repository::Open(root);
        if (!repository) {
            state.SkipWithError("cannot open a repository");
            break;
        }
        WriterProbe probe(root / "drive_c/WINDOWS/system32/wbem/Repository/repository.db");
        state.ResumeTiming();
        qv::wbem::MofResult result = qv::wbem::CompileMofText(text, "wide.mof", *repository, options);
        state.PauseTiming();
        blocked += probe.Stop();
        if (!result.ok) state.SkipWithError(qv::wbem::FormatMofError(result).c_str());
        repository.reset();
        fs::remove_all(root);
        state.ResumeTiming();
    }
    state.counters["writers_blocked_ms"] = benchmark::Counter(blocked / static_cast<double>(state.iterations()));
    state.counters["properties"] = static_cast<double>(state.range(0));
    state.SetComplexityN(state.range(0));
}
// The complexity line fits the times to N, N log N, N^2...: linear growth reads "N".
BENCHMARK(BM_CompileWideClass)
    ->Arg(1000)
    ->Arg(5000)
    ->Arg(20000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Complexity();

}  // namespace

int main(int argc, char** argv) {
    char pattern[] = "/tmp/qv-mof-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    benchRoot = pattern;
    setenv("QV_SYSTEM_ROOT", (benchRoot / "system").c_str(), 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(benchRoot);
    return 0;
}
