// LibraryBinding: the settings library (ZMRMC.DLL) loaded by path at run time and its exports found by name.
// vrxBIOS never links the library; every call into it goes through the pointers held here.
//
// Ownership: the binding owns its module reference (FreeLibrary at Unbind and at destruction). Records and
// texts returned by forwarded calls belong to the library and stay valid as the library's own rules say.
// Thread safety: none of its own; the provider calls it under its request lock only.
#pragma once

#include "ZmrMC.h"
#include "windows.h"

#include <string>

class LibraryBinding {
public:
    // Every export the binding looks up, in lookup order; Required() says which ones the library cannot be
    // used without.
    enum Export : int {
        kZmrMCInit,
        kZmrMCDetect,
        kZmrMCObtainBiosData,
        kZmrMCGetFoundDevicesCount,
        kZmrMCGetIsAPwdSet,
        kZmrMCGetOpSysLangCode,
        kZmrMCGetOpSysCode,
        kZmrMCGetOpSysServiceRelease,
        kZmrMCGetOpSysPlatform,
        kZmrMCGetMachineID,
        kZmrMCGetBaseBoardProduct,
        kZmrMCGetROMVersion,
        kZmrMCGetSmbiosBiosVersion,
        kZmrMCGetSmbiosBiosReleaseDate,
        kZmrMCGetROMFamily,
        kZmrMCGetAssetTag,
        kZmrMCGetOwnershipString,
        kZmrMCGetSerialNumber,
        kZmrMCGetFoundDeviceAtIndex,
        kZmrMCPxeNextBoot,
        kZmrMCFlashRomFromCAB,
        kZmrMCSetAPwd,
        kZmrMCChangeAdminPassword,
        kZmrMCReadWriteFirstBootString,
        kZmrMCReadWriteProductNameString,
        kZmrMCReadWriteE845String,
        kZmrMCCall32bitInt15IOCtl,
        kZmrMCCall16bitIntIOCtl,
        kZmrMCIsCPUSerNumSupported,
        kZmrMCSetSecuritySettings,
        kZmrMCChangeSysObjLockState,
        kZmrMCGetSysObjListSize,
        kZmrMCGetSysObjList,
        kZmrMCGetSysObjInfo,
        kZmrMCGetSysObjValue,
        kZmrMCSetSysObjValue,
        kZmrMCGetIPLDevInfo,
        kZmrMCGetIPLTableInfo,
        kZmrMCSetIPLPriority,
        kZmrMCGetSystemManufacturer,
        kZmrMCGetSystemProduct,
        kZmrMCGetSystemVersion,
        kZmrMCGetBaseBoardManufacturer,
        kZmrMCGetBaseBoardVersion,
        kConvertStringToKeyboardScanCodes,
        kConvertPasswordTokenToScanCode,
        kBiosSettingsReadFromSystem,
        kBiosSettingsWriteToSystem,
        kBiosSettingsReadFromFile,
        kBiosSettingsWriteToFile,
        kBiosSettingsFindStringFromID,
        kBiosSettingsFindIDFromString,
        kBiosSettingsFindSRI,
        kBiosSettingsSetItemInfo,
        kBiosSettingsSRIEnumCount,
        kBiosSettingsSRIEnumGetAt,
        kZmrMCGetIsPowerOnPwdSet,
        kZmrMCSetPowerOnPwd,
        kZmrMCChangePowerOnPassword,
        kZmrMCVerifyPowerOnPassword,
        kBiosSetSystemDefaults,
        kBiosSRIAddRef,
        kBiosSRIRelease,
        kExportCount
    };

    LibraryBinding() = default;
    ~LibraryBinding() { Unbind(); }
    LibraryBinding(const LibraryBinding&) = delete;
    LibraryBinding& operator=(const LibraryBinding&) = delete;

    // The path Bind loads: a null path or exactly "\" means the running program's folder; a path whose last
    // nine characters are not "ZMRMC.DLL" (any case) is a folder and gets "ZmrMC.dll" appended (with one "\").
    static std::wstring LibraryPath(LPCWSTR path);
    // The export's name and whether the library is unusable without it.
    static const char* ExportName(Export which);
    static bool Required(Export which);

    // Loads the library (an earlier binding is dropped first), finds every export (missing ones stay null)
    // and, when every required one was found, calls ZmrMCInit(first, second). Returns Ready(): that call's
    // result, 0 when the library could not be loaded, an export was missing or the call failed.
    int Bind(LPCWSTR path, int first, int second);
    // Clears Ready(), forgets every export and frees the module.
    void Unbind();

    int Ready() const { return ready_; }
    HMODULE Module() const { return module_; }
    bool Has(Export which) const { return exports_[which] != nullptr; }

    // Forwarding calls: the export's result when it can be called, else the value noted. Those marked
    // "ready" also need Ready() to be nonzero.
    int ReadFromSystem(const char* password);               // 0
    int EnumCount();                                        // 0
    SRI* EnumGetAt(int index);                              // null
    int Release();                                          // 0
    const char* FindStringFromID(uint16_t id, SRI* table);  // "" (never null)
    int FindIDFromString(uint16_t* id, const char* text);   // 0
    SRI* FindSRI(uint16_t nameId, const uint16_t* key);     // null
    int SetItemInfo(SRI* record, const char* password);     // 0
    int SetSystemDefaults(const char* password);            // 0
    int IsAdminPasswordSet();                               // ready; 0
    int IsPowerOnPasswordSet();                             // ready; 0
    int ChangeSysObjLockState(const char* password, uint16_t length, int lock,
                              unsigned char* status);  // ready; 0
    // ready; false when it cannot be called (the caller falls back), else *converted = the export's result.
    bool ConvertPasswordToken(const char* text, unsigned char* codes, int capacity, const char** errorPosition,
                              int* converted);
    int VerifyPowerOnPassword(const char* password);  // ready; 0 (verification fails)

    // The library's reference count on its records as this process's calls made it: every read takes one, every
    // release gives one back, never below 0 (one library, one count per process, whichever binding called).
    // A read while it is above 0 does not read anew and answers 0, and the records of the read still held are
    // the ones to use: a request that arrives while another one is between its read and its release (the
    // provider's thread serves calls while it waits for the instrumentation service) is not a failed read.
    static int HeldReads();

    // For tests: replaces one export by a function of the same signature (null removes it). Does not change
    // Ready().
    void SetExportForTesting(Export which, void* function) { exports_[which] = function; }
    void SetReadyForTesting(int ready) { ready_ = ready; }

private:
    template <typename Function>
    Function* Get(Export which) const {
        return reinterpret_cast<Function*>(exports_[which]);
    }

    HMODULE module_ = nullptr;
    void* exports_[kExportCount] = {};
    int ready_ = 0;
};
