#include "zmrmc_library.h"

#include "exit_codes.h"
#include "qv_system_root.h"

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

std::string LibraryPath() {
    if (const char* named = std::getenv("QV_ZMRMC_LIBRARY"); named != nullptr && *named != '\0') return named;
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return "libZmrMC.so";
    fs::path beside = self.parent_path() / "libZmrMC.so";
    if (fs::exists(beside, ec)) return beside.string();
    return (self.parent_path().parent_path() / "lib" / "libZmrMC.so").string();
}

}  // namespace

ZmrmcLibrary::~ZmrmcLibrary() {
    if (module_ != nullptr) FreeLibrary(module_);
}

template <typename F>
void ZmrmcLibrary::Bind(F& slot, const char* name) {
    slot = reinterpret_cast<F>(GetProcAddress(module_, name));
    if (slot == nullptr) throw CommandError(path_ + " has no export " + name + ": not the BIOS access library");
}

void ZmrmcLibrary::Load() {
    if (module_ != nullptr) return;
    path_ = LibraryPath();
    module_ = LoadLibraryW(qv::win::FromUtf8(path_).c_str());
    if (module_ == nullptr) throw CommandError("cannot load the BIOS access library " + path_);
    Bind(Init, "ZmrMCInit");
    Bind(SetupPasswordSet, "ZmrMCGetIsAPwdSet");
    Bind(ReadFromSystem, "BiosSettingsReadFromSystem");
    Bind(ReadFromFile, "BiosSettingsReadFromFile");
    Bind(WriteToFile, "BiosSettingsWriteToFile");
    Bind(Text, "BiosSettingsFindStringFromID");
    Bind(FindId, "BiosSettingsFindIDFromString");
    Bind(Find, "BiosSettingsFindSRI");
    Bind(Count, "BiosSettingsSRIEnumCount");
    Bind(At, "BiosSettingsSRIEnumGetAt");
    Bind(Release, "BiosSRIRelease");
    Bind(KeyTextToScanCodes, "ConvertStringToKeyboardScanCodes");
    Bind(TaggedToScanCodes, "ConvertPasswordTokenToScanCode");
    Bind(Commit, "BiosSettingsSetItemInfo");
    Bind(SetDefaults, "BiosSetSystemDefaults");
    Bind(ChangeLockState, "ZmrMCChangeSysObjLockState");
    Bind(SetSetupPassword, "ZmrMCSetAPwd");
    Bind(ChangeSetupPassword, "ZmrMCChangeAdminPassword");
    Bind(PowerOnPasswordSet, "ZmrMCGetIsPowerOnPwdSet");
    Bind(SetPowerOnPassword, "ZmrMCSetPowerOnPwd");
    Bind(ChangePowerOnPassword, "ZmrMCChangePowerOnPassword");
    Bind(FlashRom, "ZmrMCFlashRomFromCAB");
    Bind(VerifyPowerOnPassword, "ZmrMCVerifyPowerOnPassword");
    if (!Init(0, 1))
        throw CommandError("the BIOS access library cannot reach this machine's firmware (no driver and no call gate)");
}
