// A client process for the COM tests: activates the test server by ProgID, prints "pid <server pid>", then
// holds its object until its standard input closes (or it is killed).

#include "atlbase.h"
#include "ole2.h"
#include "test_classes.h"
#include "wrl/client.h"

#include <cstdio>
#include <unistd.h>

int main() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    CLSID clsid{};
    if (FAILED(CLSIDFromProgID(L"QvTest.Server", &clsid))) return 2;
    Microsoft::WRL::ComPtr<IDispatch> object;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                  reinterpret_cast<void**>(object.GetAddressOf()));
    if (FAILED(hr)) {
        std::printf("error 0x%08X\n", static_cast<unsigned>(hr));
        return 3;
    }
    DISPPARAMS none{};
    CComVariant result;
    hr = object->Invoke(kDispServerPid, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr);
    std::printf("pid %d\n", SUCCEEDED(hr) ? static_cast<int>(result.lVal) : 0);
    std::fflush(stdout);
    char byte;
    while (read(0, &byte, 1) > 0) {
    }
    object.Reset();  // before COM goes
    CoUninitialize();
    return 0;
}
