#include "FirmwareDetection.h"

#include "InstrumentedBiosConnection.h"
#include "LibraryBinding.h"
#include "ResourceFile.h"
#include "ScopedWorkingFolder.h"
#include "resource.h"

#include "windows.h"

bool HasNativeWmiSupport() {
    IWbemServices* services = ConnectInstrumentedBios(L"CoSetProxyBlanket failed: 0x%08X");
    if (services == nullptr) return false;
    bool found = false;
    IEnumWbemClassObject* settings = nullptr;
    BSTR name = SysAllocString(L"QVBIOS_BIOSSettingInterface");
    if (SUCCEEDED(services->CreateInstanceEnum(name, 0, nullptr, &settings)) && settings != nullptr) {
        IWbemClassObject* object = nullptr;
        ULONG returned = 0;
        found = SUCCEEDED(settings->Next(WBEM_INFINITE, 1, &object, &returned)) && returned == 1;
        if (object != nullptr) object->Release();
        settings->Release();
    }
    SysFreeString(name);
    services->Release();
    return found;
}

bool HasLegacyBiosInterface() {
    ScopedWorkingFolder folder;  // deleted last, after the library was unloaded
    if (!folder.Usable()) return false;
    std::wstring path = folder.PathOf(L"ZMRMC.DLL");
    ExtractResourceFile(GetModuleHandleW(nullptr), IDR_ZMRMC_LIBRARY, path.c_str());
    LibraryBinding binding;
    bool found = false;
    if (binding.Bind(path.c_str(), 0, 1) != 0 && binding.ReadFromSystem(nullptr) != 0) {
        found = binding.EnumCount() != 0;
        binding.Release();
    }
    binding.Unbind();
    return found;
}
