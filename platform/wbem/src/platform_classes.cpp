// Registers the in-process WMI classes with the COM runtime, and the seed of every new repository (what the
// machine's Windows and firmware define in "root\WMI"), before main runs, in every program that links the WMI
// library (the library's link options keep this file in, see CMakeLists.txt).
#include "by_value.h"
#include "platform_classes.h"
#include "qv_class_object.h"
#include "qv_com_runtime.h"
#include "qv_firmware_wmi.h"
#include "qv_object_codec.h"
#include "qv_wbem_classes.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace qv::wbem {

namespace {

HRESULT DecodeClassObject(const std::vector<uint8_t>& bytes, IUnknown** object) {
    CimObject decoded;
    HRESULT hr = DecodeObject(bytes.data(), bytes.size(), &decoded);
    if (FAILED(hr)) return hr;
    *object = CreateClassObject(std::move(decoded));
    return S_OK;
}

IUnknown* NewContext() { return CreateWbemContext(); }

HRESULT Register(REFCLSID clsid, IClassFactory* factory) {
    HRESULT hr = com::RegisterPlatformClass(clsid, factory);
    factory->Release();
    return hr;
}

}  // namespace

HRESULT RegisterWbemPlatformClasses() {
    HRESULT result = S_OK;
    auto keep = [&](HRESULT hr) {
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    };
    keep(Register(CLSID_QvWbemObjectUnmarshal, CreateUnmarshalFactory(&DecodeClassObject)));
    keep(Register(CLSID_WbemContext, CreateSimpleFactory(&NewContext)));
    keep(Register(CLSID_WbemLocator, CreateSimpleFactory(&CreateLocator)));
    keep(Register(CLSID_WbemDecoupledBasicEventProvider, CreateSimpleFactory(&CreateDecoupledEventProvider)));
    return result;
}

std::string ServiceProgram() {
    if (const char* named = std::getenv("QV_WBEM_SERVICE"); named != nullptr && *named != 0) return named;
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return "winmgmt";
    auto beside = self.parent_path() / "winmgmt";
    if (std::filesystem::exists(beside, ec)) return beside.string();
    return (self.parent_path().parent_path() / "bin" / "winmgmt").string();
}

}  // namespace qv::wbem

// Referenced by the library's link options so that the linker keeps this file and its registrar.
extern "C" {
int qv_wbem_platform_classes_anchor = 0;
}

namespace {
const bool registered = (qv::wbem::RegisterWbemPlatformClasses(),
                         qv::wbem::AddRepositorySeed(&qv::wbem::InstallFirmwareWmiClasses), true);
}
