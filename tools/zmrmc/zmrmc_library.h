// The BIOS access library as zmrmc uses it: libZmrMC loaded by path, as the provider loads it, and its
// exports found by name. Only the exports of ZmrMC.h are used.
#pragma once

#include "ZmrMC.h"
#include "windows.h"

#include <string>

class ZmrmcLibrary {
public:
    ZmrmcLibrary() = default;
    ~ZmrmcLibrary();
    ZmrmcLibrary(const ZmrmcLibrary&) = delete;
    ZmrmcLibrary& operator=(const ZmrmcLibrary&) = delete;

    // Loads the library ($QV_ZMRMC_LIBRARY, else libZmrMC.so beside the program, else ../lib/libZmrMC.so
    // from it), finds the exports below and initialises it (which starts its driver). Throws CommandError
    // naming what failed. Unloading at destruction stops the driver again.
    void Load();
    bool Loaded() const { return module_ != nullptr; }

    decltype(&ZmrMCInit) Init = nullptr;
    decltype(&ZmrMCGetIsAPwdSet) SetupPasswordSet = nullptr;
    decltype(&BiosSettingsReadFromSystem) ReadFromSystem = nullptr;
    decltype(&BiosSettingsReadFromFile) ReadFromFile = nullptr;
    decltype(&BiosSettingsWriteToFile) WriteToFile = nullptr;
    decltype(&BiosSettingsFindStringFromID) Text = nullptr;
    decltype(&BiosSettingsFindIDFromString) FindId = nullptr;
    decltype(&BiosSettingsFindSRI) Find = nullptr;
    decltype(&BiosSettingsSRIEnumCount) Count = nullptr;
    decltype(&BiosSettingsSRIEnumGetAt) At = nullptr;
    decltype(&BiosSRIRelease) Release = nullptr;
    decltype(&ConvertStringToKeyboardScanCodes) KeyTextToScanCodes = nullptr;
    decltype(&ConvertPasswordTokenToScanCode) TaggedToScanCodes = nullptr;
    decltype(&BiosSettingsSetItemInfo) Commit = nullptr;
    decltype(&BiosSetSystemDefaults) SetDefaults = nullptr;
    decltype(&ZmrMCChangeSysObjLockState) ChangeLockState = nullptr;
    decltype(&ZmrMCSetAPwd) SetSetupPassword = nullptr;
    decltype(&ZmrMCChangeAdminPassword) ChangeSetupPassword = nullptr;
    decltype(&ZmrMCGetIsPowerOnPwdSet) PowerOnPasswordSet = nullptr;
    decltype(&ZmrMCSetPowerOnPwd) SetPowerOnPassword = nullptr;
    decltype(&ZmrMCChangePowerOnPassword) ChangePowerOnPassword = nullptr;
    decltype(&ZmrMCVerifyPowerOnPassword) VerifyPowerOnPassword = nullptr;
    decltype(&ZmrMCFlashRomFromCAB) FlashRom = nullptr;

private:
    template <typename F>
    void Bind(F& slot, const char* name);

    HMODULE module_ = nullptr;
    std::string path_;
};
