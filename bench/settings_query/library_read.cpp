// The settings read through the library alone, as the provider does it: the library loaded by path, ZmrMCInit(0,
// 1), BiosSettingsReadFromSystem, every record enumerated with its texts (name, menu path, choices or items),
// BiosSRIRelease. Runs on the machine of QV_SYSTEM_ROOT (made from QV_MACHINE on first use).
//
//   cold  the library is loaded and initialised for each run (its driver is installed and started; it is
//         stopped and removed again when the library is unloaded after the run)
//   warm  one loaded and initialised library (driver running), the read and enumeration repeated
//
// Prints "records N", then "cold_ms" and "warm_ms" with the median and each run, in milliseconds.
// Usage: settings_library_read [RUNS]   (default 7)

#include "ZmrMC.h"
#include "qv_system_root.h"
#include "windows.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Library {
    HMODULE module = nullptr;
    decltype(&ZmrMCInit) init = nullptr;
    decltype(&BiosSettingsReadFromSystem) read = nullptr;
    decltype(&BiosSRIRelease) release = nullptr;
    decltype(&BiosSettingsSRIEnumCount) count = nullptr;
    decltype(&BiosSettingsSRIEnumGetAt) at = nullptr;
    decltype(&BiosSettingsFindStringFromID) text = nullptr;

    bool Load() {
        std::wstring path = qv::win::FromUtf8(std::string(QV_BUILD_TREE) + "/lib/libZmrMC.so");
        module = LoadLibraryW(path.c_str());
        if (module == nullptr) return false;
        auto bind = [&](auto& f, const char* name) {
            f = reinterpret_cast<std::remove_reference_t<decltype(f)>>(GetProcAddress(module, name));
            return f != nullptr;
        };
        return bind(init, "ZmrMCInit") && bind(read, "BiosSettingsReadFromSystem") && bind(release, "BiosSRIRelease") &&
               bind(count, "BiosSettingsSRIEnumCount") && bind(at, "BiosSettingsSRIEnumGetAt") &&
               bind(text, "BiosSettingsFindStringFromID");
    }
    void Unload() {
        if (module != nullptr) FreeLibrary(module);
        module = nullptr;
    }
};

// One read with every record's texts looked up; the number of records, or -1 when the read failed.
int ReadAndEnumerate(Library& library) {
    if (!library.read(nullptr)) {
        library.release();
        return -1;
    }
    size_t characters = 0;  // keeps the lookups from being optimised away
    int records = library.count();
    for (int i = 0; i < records; ++i) {
        const SRI* r = library.at(i);
        if (r == nullptr) continue;
        characters += std::string(library.text(r->nameId, nullptr)).size();
        for (int p = 0; p < r->pathDepth && p < 6; ++p)
            characters += std::string(library.text(r->path[p], nullptr)).size();
        bool listed = r->type == SRI_TYPE_ENUM || r->type == SRI_TYPE_KEYED_ENUM || r->type == SRI_TYPE_ORDERED_LIST;
        if (listed && r->value != nullptr && r->valueSize >= 2u * r->elementCount) {
            const auto* ids = static_cast<const uint16_t*>(r->value);
            for (int e = 0; e < r->elementCount && ids[e] != 0xFFFF; ++e)
                characters += std::string(library.text(ids[e], nullptr)).size();
        }
    }
    library.release();
    return characters > 0 ? records : -1;
}

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void Print(const char* label, std::vector<double> runs) {
    std::vector<double> sorted = runs;
    std::sort(sorted.begin(), sorted.end());
    std::printf("%s %.2f", label, sorted[sorted.size() / 2]);
    for (double r : runs) std::printf(" %.2f", r);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 7;
    if (runs < 1 || argc > 2) {
        std::fprintf(stderr, "usage: settings_library_read [RUNS]\n");
        return 2;
    }
    // No driver of this program outlives it.
    setenv("QV_DRIVER_WATCH_PID", std::to_string(getpid()).c_str(), 1);

    std::vector<double> cold, warm;
    int records = -1;
    for (int i = 0; i < runs; ++i) {
        Library library;
        auto start = Clock::now();
        if (!library.Load() || !library.init(0, 1)) {
            std::fprintf(stderr, "settings_library_read: the library could not be loaded and initialised\n");
            library.Unload();
            return 1;
        }
        records = ReadAndEnumerate(library);
        cold.push_back(Milliseconds(Clock::now() - start));
        library.Unload();
        if (records < 0) {
            std::fprintf(stderr, "settings_library_read: the settings could not be read\n");
            return 1;
        }
    }
    Library library;
    if (!library.Load() || !library.init(0, 1)) return 1;
    ReadAndEnumerate(library);  // the first read after start-up is not a warm one
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        if (ReadAndEnumerate(library) < 0) return 1;
        warm.push_back(Milliseconds(Clock::now() - start));
    }
    library.Unload();
    std::printf("records %d\n", records);
    Print("cold_ms", cold);
    Print("warm_ms", warm);
    return 0;
}
