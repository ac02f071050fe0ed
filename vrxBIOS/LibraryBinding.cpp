#include "LibraryBinding.h"

#include <cwctype>
#include <mutex>

namespace {

struct ExportEntry {
    const char* name;
    bool required;
};

// In the order of LibraryBinding::Export.
constexpr ExportEntry kExports[LibraryBinding::kExportCount] = {
    {"ZmrMCInit", true},
    {"ZmrMCDetect", true},
    {"ZmrMCObtainBiosData", true},
    {"ZmrMCGetFoundDevicesCount", true},
    {"ZmrMCGetIsAPwdSet", true},
    {"ZmrMCGetOpSysLangCode", true},
    {"ZmrMCGetOpSysCode", true},
    {"ZmrMCGetOpSysServiceRelease", true},
    {"ZmrMCGetOpSysPlatform", true},
    {"ZmrMCGetMachineID", true},
    {"ZmrMCGetBaseBoardProduct", false},
    {"ZmrMCGetROMVersion", true},
    {"ZmrMCGetSmbiosBiosVersion", false},
    {"ZmrMCGetSmbiosBiosReleaseDate", false},
    {"ZmrMCGetROMFamily", true},
    {"ZmrMCGetAssetTag", true},
    {"ZmrMCGetOwnershipString", true},
    {"ZmrMCGetSerialNumber", true},
    {"ZmrMCGetFoundDeviceAtIndex", true},
    {"ZmrMCPxeNextBoot", false},
    {"ZmrMCFlashRomFromCAB", true},
    {"ZmrMCSetAPwd", true},
    {"ZmrMCChangeAdminPassword", false},
    {"ZmrMCReadWriteFirstBootString", true},
    {"ZmrMCReadWriteProductNameString", true},
    {"ZmrMCReadWriteE845String", false},
    {"ZmrMCCall32bitInt15IOCtl", true},
    {"ZmrMCCall16bitIntIOCtl", false},
    {"ZmrMCIsCPUSerNumSupported", true},
    {"ZmrMCSetSecuritySettings", true},
    {"ZmrMCChangeSysObjLockState", true},
    {"ZmrMCGetSysObjListSize", true},
    {"ZmrMCGetSysObjList", true},
    {"ZmrMCGetSysObjInfo", true},
    {"ZmrMCGetSysObjValue", true},
    {"ZmrMCSetSysObjValue", true},
    {"ZmrMCGetIPLDevInfo", true},
    {"ZmrMCGetIPLTableInfo", true},
    {"ZmrMCSetIPLPriority", true},
    {"ZmrMCGetSystemManufacturer", false},
    {"ZmrMCGetSystemProduct", false},
    {"ZmrMCGetSystemVersion", false},
    {"ZmrMCGetBaseBoardManufacturer", false},
    {"ZmrMCGetBaseBoardVersion", false},
    {"ConvertStringToKeyboardScanCodes", false},
    {"ConvertPasswordTokenToScanCode", false},
    {"BiosSettingsReadFromSystem", false},
    {"BiosSettingsWriteToSystem", false},
    {"BiosSettingsReadFromFile", false},
    {"BiosSettingsWriteToFile", false},
    {"BiosSettingsFindStringFromID", false},
    {"BiosSettingsFindIDFromString", false},
    {"BiosSettingsFindSRI", false},
    {"BiosSettingsSetItemInfo", false},
    {"BiosSettingsSRIEnumCount", false},
    {"BiosSettingsSRIEnumGetAt", false},
    {"ZmrMCGetIsPowerOnPwdSet", false},
    {"ZmrMCSetPowerOnPwd", false},
    {"ZmrMCChangePowerOnPassword", false},
    {"ZmrMCVerifyPowerOnPassword", false},
    {"BiosSetSystemDefaults", false},
    {"BiosSRIAddRef", false},
    {"BiosSRIRelease", false},
};

const char kEmptyText[1] = {'\0'};

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The folder of the running program, with its final separator.
std::wstring ProgramFolder() {
    wchar_t file[MAX_PATH * 4] = {};
    DWORD n = GetModuleFileNameW(nullptr, file, MAX_PATH * 4);
    if (n == 0 || n >= MAX_PATH * 4) return {};
    std::wstring path(file, n);
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1);
}

bool EndsWithLibraryName(const std::wstring& path) {
    static const wchar_t kName[] = L"ZMRMC.DLL";
    constexpr size_t kLength = sizeof kName / sizeof kName[0] - 1;
    if (path.size() < kLength) return false;
    for (size_t i = 0; i < kLength; ++i)
        if (std::towupper(path[path.size() - kLength + i]) != static_cast<wint_t>(kName[i])) return false;
    return true;
}

}  // namespace

const char* LibraryBinding::ExportName(Export which) { return kExports[which].name; }
bool LibraryBinding::Required(Export which) { return kExports[which].required; }

std::wstring LibraryBinding::LibraryPath(LPCWSTR given) {
    std::wstring path = given != nullptr ? given : L"";
    if (given == nullptr || path == L"\\") path = ProgramFolder();
    if (!EndsWithLibraryName(path)) {
        if (path.empty() || !IsSeparator(path.back())) path += L'\\';
        path += L"ZmrMC.dll";
    }
    return path;
}

int LibraryBinding::Bind(LPCWSTR path, int first, int second) {
    Unbind();
    module_ = LoadLibraryW(LibraryPath(path).c_str());
    if (module_ == nullptr) return 0;
    bool complete = true;
    for (int i = 0; i < kExportCount; ++i) {
        exports_[i] = GetProcAddress(module_, kExports[i].name);
        if (exports_[i] == nullptr && kExports[i].required) complete = false;
    }
    if (complete) ready_ = Get<decltype(ZmrMCInit)>(kZmrMCInit)(first, second);
    return ready_;
}

void LibraryBinding::Unbind() {
    ready_ = 0;
    for (void*& function : exports_) function = nullptr;
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
}

namespace {

std::mutex held_mutex;
int held_reads = 0;

}  // namespace

int LibraryBinding::HeldReads() {
    std::lock_guard lock(held_mutex);
    return held_reads;
}

int LibraryBinding::ReadFromSystem(const char* password) {
    auto* call = Get<decltype(BiosSettingsReadFromSystem)>(kBiosSettingsReadFromSystem);
    if (call == nullptr) return 0;
    {
        std::lock_guard lock(held_mutex);
        ++held_reads;  // the library takes its reference whatever the read's result
    }
    return call(password);
}

int LibraryBinding::EnumCount() {
    auto* call = Get<decltype(BiosSettingsSRIEnumCount)>(kBiosSettingsSRIEnumCount);
    return call != nullptr ? call() : 0;
}

SRI* LibraryBinding::EnumGetAt(int index) {
    auto* call = Get<decltype(BiosSettingsSRIEnumGetAt)>(kBiosSettingsSRIEnumGetAt);
    return call != nullptr ? call(index) : nullptr;
}

int LibraryBinding::Release() {
    auto* call = Get<decltype(BiosSRIRelease)>(kBiosSRIRelease);
    if (call == nullptr) return 0;
    {
        std::lock_guard lock(held_mutex);
        if (held_reads > 0) --held_reads;
    }
    return call();
}

const char* LibraryBinding::FindStringFromID(uint16_t id, SRI* table) {
    auto* call = Get<decltype(BiosSettingsFindStringFromID)>(kBiosSettingsFindStringFromID);
    const char* text = call != nullptr ? call(id, table) : nullptr;
    return text != nullptr ? text : kEmptyText;
}

int LibraryBinding::FindIDFromString(uint16_t* id, const char* text) {
    auto* call = Get<decltype(BiosSettingsFindIDFromString)>(kBiosSettingsFindIDFromString);
    return call != nullptr ? call(id, text) : 0;
}

SRI* LibraryBinding::FindSRI(uint16_t nameId, const uint16_t* key) {
    auto* call = Get<decltype(BiosSettingsFindSRI)>(kBiosSettingsFindSRI);
    return call != nullptr ? call(nameId, key) : nullptr;
}

int LibraryBinding::SetItemInfo(SRI* record, const char* password) {
    auto* call = Get<decltype(BiosSettingsSetItemInfo)>(kBiosSettingsSetItemInfo);
    return call != nullptr ? call(record, password) : 0;
}

int LibraryBinding::SetSystemDefaults(const char* password) {
    auto* call = Get<decltype(BiosSetSystemDefaults)>(kBiosSetSystemDefaults);
    return call != nullptr ? call(password) : 0;
}

int LibraryBinding::IsAdminPasswordSet() {
    auto* call = Get<decltype(ZmrMCGetIsAPwdSet)>(kZmrMCGetIsAPwdSet);
    return ready_ != 0 && call != nullptr ? call() : 0;
}

int LibraryBinding::IsPowerOnPasswordSet() {
    auto* call = Get<decltype(ZmrMCGetIsPowerOnPwdSet)>(kZmrMCGetIsPowerOnPwdSet);
    return ready_ != 0 && call != nullptr ? call() : 0;
}

int LibraryBinding::ChangeSysObjLockState(const char* password, uint16_t length, int lock, unsigned char* status) {
    auto* call = Get<decltype(ZmrMCChangeSysObjLockState)>(kZmrMCChangeSysObjLockState);
    return ready_ != 0 && call != nullptr ? call(password, length, lock, status) : 0;
}

bool LibraryBinding::ConvertPasswordToken(const char* text, unsigned char* codes, int capacity,
                                          const char** errorPosition, int* converted) {
    auto* call = Get<decltype(ConvertPasswordTokenToScanCode)>(kConvertPasswordTokenToScanCode);
    if (ready_ == 0 || call == nullptr) return false;
    int result = call(text, codes, capacity, errorPosition);
    if (converted != nullptr) *converted = result;
    return true;
}

int LibraryBinding::VerifyPowerOnPassword(const char* password) {
    auto* call = Get<decltype(ZmrMCVerifyPowerOnPassword)>(kZmrMCVerifyPowerOnPassword);
    return ready_ != 0 && call != nullptr ? call(password) : 0;
}
