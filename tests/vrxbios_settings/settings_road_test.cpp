#include "settings_road.h"

namespace road {
namespace {

TEST_F(SettingsRoadTest, Perf) {
    Prepare(getenv("PERF_MACHINE") ? getenv("PERF_MACHINE") : "desktop");
    for (int i = 0; i < 6; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        Result r = Wmi({"query", "SELECT * FROM QVPROV_BIOSEnumeration"});
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
        printf("%d %zu bytes (%ld ms) %s\n", r.code, r.out.size(), (long)ms, r.err.c_str());
    }
}
TEST_F(SettingsRoadTest, DISABLED_Explore) {
    Prepare("desktop");
    for (const char* cls : {"QVPROV_BIOSEnumeration", "QVPROV_BIOSString", "QVPROV_BIOSInteger", "QVPROV_BIOSPassword", "QVPROV_BIOSOrderedList", "QVPROV_BIOSSettingInterface"}) {
        auto t0 = std::chrono::steady_clock::now();
        Result r = Wmi({"enum", cls});
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
        printf("%s %d (%ld ms)\n%s\n%s\n", cls, r.code, (long)ms, r.out.c_str(), r.err.c_str());
    }
    printf("DEBUG:\n%s\n", DebugOutput().c_str());
}

}  // namespace
}  // namespace road
