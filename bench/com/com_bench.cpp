// Round trip of one automation call to the test server, and 10 000 small by-value objects streamed into a
// sink during one CreateInstanceEnumAsync call. Runs in a temporary system root of its own.

#include "objbase.h"
#include "oaidl.h"
#include "qv_system_root.h"
#include "statreg.h"
#include "test_classes.h"
#include "wbemcli.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>

namespace {

class CountingSink final : public IWbemObjectSink {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IWbemObjectSink) {
            *object = static_cast<IWbemObjectSink*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override { return --refs_; }
    STDMETHODIMP Indicate(LONG count, IWbemClassObject**) override {
        received += count;
        return S_OK;
    }
    STDMETHODIMP SetStatus(LONG, HRESULT, BSTR, IWbemClassObject*) override { return S_OK; }
    long received = 0;

private:
    std::atomic<ULONG> refs_{1};
};

IWbemServices* services = nullptr;
IDispatch* dispatch = nullptr;

void CallRoundTrip(benchmark::State& state) {
    VARIANT args[2];
    for (auto& a : args) {
        VariantInit(&a);
        a.vt = VT_I4;
        a.lVal = 20;
    }
    DISPPARAMS params{args, nullptr, 2, 0};
    for (auto _ : state) {
        VARIANT result;
        VariantInit(&result);
        if (dispatch->Invoke(kDispAdd, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr) != S_OK ||
            result.lVal != 40)
            state.SkipWithError("call failed");
    }
}
BENCHMARK(CallRoundTrip)->Unit(benchmark::kMicrosecond);

void Stream10000(benchmark::State& state) {
    BSTR count = SysAllocString(L"10000");
    for (auto _ : state) {
        CountingSink sink;
        if (services->CreateInstanceEnumAsync(count, 0, nullptr, &sink) != S_OK || sink.received != 10000)
            state.SkipWithError("stream failed");
    }
    state.SetItemsProcessed(state.iterations() * 10000);
    SysFreeString(count);
}
BENCHMARK(Stream10000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    char pattern[] = "/tmp/qv-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    setenv("QV_SYSTEM_ROOT", pattern, 1);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    RegisterTestValueClass();
    auto server = std::filesystem::read_symlink("/proc/self/exe").parent_path() / ".." / "tests" / "qv_com_test_server";
    IRegistrar* registrar = nullptr;
    CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IRegistrar,
                     reinterpret_cast<void**>(&registrar));
    registrar->AddReplacement(L"MODULE", qv::win::FromUtf8(std::filesystem::canonical(server).string()).c_str());
    registrar->StringRegister(kTestServerScript);
    registrar->Release();
    HRESULT hr = CoCreateInstance(CLSID_QvTestServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IWbemServices,
                                  reinterpret_cast<void**>(&services));
    if (FAILED(hr) || FAILED(services->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
        std::fprintf(stderr, "cannot reach the test server: 0x%08X\n", static_cast<unsigned>(hr));
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    dispatch->Release();
    services->Release();
    CoUninitialize();
    std::filesystem::remove_all(pattern);
    return 0;
}
