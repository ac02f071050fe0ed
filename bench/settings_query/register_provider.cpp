// Registers build/bin/vrxBIOS as the COM server of the provider in the root of QV_SYSTEM_ROOT: the part of
// `vrxBIOS -Install` that run.sh needs when the program it measures cannot install yet (the schema it compiles
// with mofcomp itself). Exit code 0 on success.
#include "ServerRegistration.h"
#include "objbase.h"
#include "qv_system_root.h"

#include <cstdio>
#include <string>

int main() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    std::wstring program = qv::win::FromUtf8(std::string(QV_BUILD_TREE) + "/bin/vrxBIOS");
    HRESULT hr = RegisterServer(program.c_str());
    CoUninitialize();
    if (FAILED(hr))
        std::fprintf(stderr, "settings_bench_register: registration failed (0x%08X)\n", static_cast<unsigned>(hr));
    return FAILED(hr) ? 1 : 0;
}
