#include "FirmwareDetection.h"

#include "InstrumentedBiosConnection.h"
#include "ResourceFile.h"
#include "ScopedWorkingFolder.h"
#include "resource.h"

#include "windows.h"

namespace {

// The exports the legacy check calls, bound by name from the library at `path` for the length of the check.
class SettingsProbe {
public:
    explicit SettingsProbe(LPCWSTR path) : module_(LoadLibraryW(path)) {
        if (module_ == nullptr) return;
        init_ = reinterpret_cast<int (*)(int, int)>(GetProcAddress(module_, "ZmrMCInit"));
        read_ = reinterpret_cast<int (*)(const char*)>(GetProcAddress(module_, "BiosSettingsReadFromSystem"));
        count_ = reinterpret_cast<int (*)()>(GetProcAddress(module_, "BiosSettingsSRIEnumCount"));
        release_ = reinterpret_cast<int (*)()>(GetProcAddress(module_, "BiosSRIRelease"));
        if (init_ != nullptr && read_ != nullptr && count_ != nullptr && release_ != nullptr) ready_ = init_(0, 1);
    }
    ~SettingsProbe() {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    SettingsProbe(const SettingsProbe&) = delete;
    SettingsProbe& operator=(const SettingsProbe&) = delete;

    // Reads the settings once and tells whether there were any.
    bool HasSettings() {
        if (ready_ == 0 || read_(nullptr) == 0) return false;
        bool any = count_() != 0;
        release_();
        return any;
    }

private:
    HMODULE module_;
    int (*init_)(int, int) = nullptr;
    int (*read_)(const char*) = nullptr;
    int (*count_)() = nullptr;
    int (*release_)() = nullptr;
    int ready_ = 0;
};

}  // namespace

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
    ScopedWorkingFolder folder;
    if (!folder.Usable()) return false;
    std::wstring path = folder.PathOf(L"ZMRMC.DLL");
    ExtractResourceFile(GetModuleHandleW(nullptr), IDR_ZMRMC_LIBRARY, path.c_str());
    SettingsProbe probe(path.c_str());
    return probe.HasSettings();
}
