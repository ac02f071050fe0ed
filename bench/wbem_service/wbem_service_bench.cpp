// A client's WQL query through the instrumentation service (winmgmt) to the running test provider, read to
// its end, for 10 and 5 000 instances; reading one object per Next (as the client tool does) and 100 per Next.
// Runs in a temporary system root of its own, with the test schema compiled by mofcomp.

#include "objbase.h"
#include "qv_system_root.h"
#include "wbemcli.h"
#include "winreg.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

IWbemServices* services = nullptr;

void Query(benchmark::State& state, const wchar_t* wql, ULONG expected) {
    BSTR language = SysAllocString(L"WQL");
    BSTR text = SysAllocString(wql);
    const ULONG batch = static_cast<ULONG>(state.range(0));
    std::vector<IWbemClassObject*> objects(batch);
    for (auto _ : state) {
        IEnumWbemClassObject* found = nullptr;
        if (services->ExecQuery(language, text, WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY, nullptr,
                                &found) != S_OK) {
            state.SkipWithError("query failed");
            break;
        }
        ULONG total = 0, got = 0;
        while (SUCCEEDED(found->Next(WBEM_INFINITE, batch, objects.data(), &got)) && got > 0) {
            total += got;
            for (ULONG i = 0; i < got; ++i) objects[i]->Release();
        }
        found->Release();
        if (total != expected) state.SkipWithError("wrong instance count");
    }
    state.SetItemsProcessed(state.iterations() * expected);
    SysFreeString(language);
    SysFreeString(text);
}

void Query10(benchmark::State& state) { Query(state, L"SELECT * FROM QVT_Bulk10", 10); }
void Query5000(benchmark::State& state) { Query(state, L"SELECT * FROM QVT_Bulk5000", 5000); }
BENCHMARK(Query10)->Arg(1)->Arg(100)->Unit(benchmark::kMicrosecond);
BENCHMARK(Query5000)->Arg(1)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    char pattern[] = "/tmp/qv-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    setenv("QV_SYSTEM_ROOT", pattern, 1);
    auto build = std::filesystem::canonical("/proc/self/exe").parent_path().parent_path();
    setenv("QV_WBEM_SERVICE", (build / "bin" / "winmgmt").c_str(), 1);
    setenv("QV_WBEM_SERVICE_IDLE_MS", "2000", 1);
    setenv("QV_WBEM_PROVIDER_IDLE_MS", "2000", 1);
    std::string mofcomp = (build / "bin" / "mofcomp").string() + " " + QVT_SCHEMA + " > /dev/null";
    if (std::system(mofcomp.c_str()) != 0) return 1;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{6A0B2C4D-1E3F-4A5B-8C7D-9E0F1A2B3C4D}\\LocalServer32", 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &key, nullptr);
    std::wstring provider = qv::win::FromUtf8((build / "tests" / "qvt_test_provider").string());
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(provider.c_str()),
                   static_cast<DWORD>((provider.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    IWbemLocator* locator = nullptr;
    BSTR ns = SysAllocString(L"root\\QVTest");
    HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                  reinterpret_cast<void**>(&locator));
    if (SUCCEEDED(hr)) hr = locator->ConnectServer(ns, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services);
    SysFreeString(ns);
    if (locator) locator->Release();
    if (FAILED(hr)) {
        std::fprintf(stderr, "cannot reach the service: 0x%08X\n", static_cast<unsigned>(hr));
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    services->Release();
    CoUninitialize();
    sleep(6);  // service and provider end by themselves before the root goes
    std::filesystem::remove_all(pattern);
    return 0;
}
