#include "FirmwareDetection.h"

#include "InstrumentedBiosConnection.h"
#include "LibraryBinding.h"
#include "ResourceFile.h"
#include "ScopedWorkingFolder.h"
#include "resource.h"

#include "atlbase.h"
#include "windows.h"

using Microsoft::WRL::ComPtr;

bool HasNativeWmiSupport() {
    ComPtr<IWbemServices> services = ConnectInstrumentedBios(L"CoSetProxyBlanket failed: 0x%08X");
    if (!services) return false;
    bool found = false;
    ComPtr<IEnumWbemClassObject> settings;
    if (SUCCEEDED(services->CreateInstanceEnum(CComBSTR(L"QVBIOS_BIOSSettingInterface"), 0, nullptr,
                                               settings.GetAddressOf())) &&
        settings) {
        ComPtr<IWbemClassObject> object;
        ULONG returned = 0;
        found = SUCCEEDED(settings->Next(WBEM_INFINITE, 1, object.GetAddressOf(), &returned)) && returned == 1;
    }
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
