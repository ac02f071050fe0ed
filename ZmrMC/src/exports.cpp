// The library's 67 exports: each turns the internal objects' results into the C conventions (BOOL, status
// byte, status code, library-owned text). Nothing throws across this boundary.
//
// Exports whose firmware work is not part of this build answer as an unreachable firmware does: FALSE,
// status byte 250, status code 0x80004005, empty text.

#include "ZmrMC.h"

#include "firmware_calls_exports.h"
#include "firmware_passwords.h"
#include "ipl_calls.h"
#include "library.h"
#include "setting_commit.h"
#include "settings_file.h"
#include "settings_reader.h"
#include "settings_writer.h"
#include "os_identity.h"
#include "scan_codes.h"

#include <cstring>
#include <exception>

using zmrmc::Library;

namespace {

constexpr int kTrue = 1;
constexpr int kFalse = 0;
const char kEmpty[] = "";

int Bool(bool value) { return value ? kTrue : kFalse; }

zmrmc::FirmwareAccess* Firmware() { return Library::Instance().Firmware(); }
zmrmc::SystemDetection* Detection() { return Library::Instance().Detection(); }
zmrmc::SettingsModel& Settings() { return Library::Instance().Settings(); }

int NotReached(unsigned char* status) {
    if (status != nullptr) *status = ZMRMC_STATUS_NOT_REACHED;
    return kFalse;
}

// Runs `body`, turning any escaping exception into `failure`.
template <typename T, typename F>
T Guard(T failure, F body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

// A library-owned identity text, or "" before ZmrMCInit.
template <typename F>
const char* IdentityText(F text) noexcept {
    return Guard<const char*>(kEmpty, [&] { return Firmware() != nullptr ? text(*Firmware()).c_str() : kEmpty; });
}

}  // namespace

extern "C" {

// --- initialisation and detection ---------------------------------------------------------------------------
int ZmrMCInit(int openExisting, int installDriver) {
    return Guard(kFalse, [&] { return Bool(Library::Instance().Init(openExisting != 0, installDriver != 0)); });
}

int ZmrMCDetect(void) {
    return Guard(static_cast<int>(ZMRMC_E_DETECT),
                 [] { return static_cast<int>(Detection() != nullptr ? Detection()->Detect() : ZMRMC_E_DETECT); });
}

int ZmrMCObtainBiosData(void) { return Bool(Firmware() != nullptr && Firmware()->Reachable()); }
int ZmrMCGetFoundDevicesCount(void) { return Detection() != nullptr ? Detection()->FoundCount() : 0; }
int ZmrMCGetFoundDeviceAtIndex(int index, ZmrMCFoundDevice* out) {
    return Bool(Detection() != nullptr && Detection()->FoundAt(index, out));
}

// --- operating-system identity ------------------------------------------------------------------------------
const char* ZmrMCGetOpSysLangCode(void) { return Detection() != nullptr ? Detection()->LanguageCode() : kEmpty; }
const char* ZmrMCGetOpSysCode(void) { return Detection() != nullptr ? Detection()->OsCode() : kEmpty; }
const char* ZmrMCGetOpSysServiceRelease(void) {
    return Detection() != nullptr ? Detection()->ServiceRelease() : kEmpty;
}
int ZmrMCGetOpSysPlatform(void) {
    return Guard(0, [] { return static_cast<int>(zmrmc::LoadedVersionInfo().platform); });
}

// --- system identity ----------------------------------------------------------------------------------------
int ZmrMCGetMachineID(void) { return Firmware() != nullptr ? Firmware()->Identity().system_id : 0; }
const char* ZmrMCGetROMVersion(void) {
    return IdentityText([](zmrmc::FirmwareAccess& f) -> const std::string& { return f.Identity().rom_version; });
}
const char* ZmrMCGetROMFamily(void) {
    return IdentityText([](zmrmc::FirmwareAccess& f) -> const std::string& { return f.Identity().rom_family; });
}
const char* ZmrMCGetProductName(void) {
    return IdentityText([](zmrmc::FirmwareAccess& f) -> const std::string& { return f.Identity().product_name; });
}
const char* ZmrMCGetSmbiosBiosVersion(void) {
    return IdentityText([](zmrmc::FirmwareAccess& f) -> const std::string& { return f.SmbiosBiosVersion(); });
}
const char* ZmrMCGetSmbiosBiosReleaseDate(void) {
    return IdentityText([](zmrmc::FirmwareAccess& f) -> const std::string& { return f.SmbiosBiosReleaseDate(); });
}
const char* ZmrMCGetSystemManufacturer(void) {
    return IdentityText([](zmrmc::FirmwareAccess& f) -> const std::string& { return f.Names().manufacturer; });
}
const char* ZmrMCGetSystemProduct(void) {
    return IdentityText([](zmrmc::FirmwareAccess& f) -> const std::string& { return f.Names().product; });
}
const char* ZmrMCGetSystemVersion(void) {
    return IdentityText([](zmrmc::FirmwareAccess& f) -> const std::string& { return f.Names().version; });
}
const char* ZmrMCGetBaseBoardManufacturer(void) {
    return IdentityText([](zmrmc::FirmwareAccess& f) -> const std::string& { return f.Names().board_manufacturer; });
}
const char* ZmrMCGetBaseBoardProduct(void) {
    return IdentityText([](zmrmc::FirmwareAccess& f) -> const std::string& { return f.Names().board_product; });
}
const char* ZmrMCGetBaseBoardVersion(void) {
    return IdentityText([](zmrmc::FirmwareAccess& f) -> const std::string& { return f.Names().board_version; });
}
const char* ZmrMCGetSerialNumber(void) {
    return IdentityText([](zmrmc::FirmwareAccess& f) -> const std::string& { return f.SerialNumber(); });
}
const char* ZmrMCGetAssetTag(void) {
    return IdentityText([](zmrmc::FirmwareAccess& f) -> const std::string& { return f.AssetTag(); });
}
const char* ZmrMCGetOwnershipString(void) {
    return IdentityText([](zmrmc::FirmwareAccess& f) -> const std::string& { return f.OwnershipString(); });
}
int ZmrMCSetAssetTag(const char* tag) {
    return Guard(kFalse, [&] { return Bool(Firmware() != nullptr && Firmware()->SetAssetTag(tag)); });
}
int ZmrMCIsCPUSerNumSupported(void) { return kFalse; }

// --- passwords ----------------------------------------------------------------------------------------------
int ZmrMCGetIsAPwdSet(void) {
    return Guard(kFalse, [] { return Bool(Firmware() != nullptr && Firmware()->SetupPasswordSet()); });
}
ZmrMCStatus ZmrMCSetAPwd(const char* password) { return ZmrMCChangeAdminPassword(nullptr, password); }
ZmrMCStatus ZmrMCChangeAdminPassword(const char* oldPassword, const char* newPassword) {
    return Guard(ZMRMC_E_FAIL, [&] {
        return Firmware() != nullptr ? zmrmc::FirmwarePasswords(*Firmware()).ChangeSetup(oldPassword, newPassword)
                                     : ZMRMC_E_FAIL;
    });
}
int ZmrMCGetIsPowerOnPwdSet(void) {
    return Guard(kFalse,
                 [] { return Bool(Firmware() != nullptr && zmrmc::FirmwarePasswords(*Firmware()).PowerOnSet()); });
}
ZmrMCStatus ZmrMCSetPowerOnPwd(const char* password) { return ZmrMCChangePowerOnPassword(nullptr, password); }
ZmrMCStatus ZmrMCChangePowerOnPassword(const char* oldPassword, const char* newPassword) {
    return Guard(ZMRMC_E_FAIL, [&] {
        return Firmware() != nullptr ? zmrmc::FirmwarePasswords(*Firmware()).ChangePowerOn(oldPassword, newPassword)
                                     : ZMRMC_E_FAIL;
    });
}
int ZmrMCVerifyPowerOnPassword(const char* password) {
    return Guard(kFalse, [&] {
        return Bool(Firmware() != nullptr && zmrmc::FirmwarePasswords(*Firmware()).VerifyPowerOn(password));
    });
}

// --- firmware strings and calls -----------------------------------------------------------------------------
ZmrMCStatus ZmrMCReadWriteFirstBootString(char*, unsigned* length, int) {
    return length == nullptr ? ZMRMC_E_INVALIDARG : ZMRMC_E_FAIL;
}
ZmrMCStatus ZmrMCReadWriteProductNameString(char*, unsigned* length, int, const char*) {
    return length == nullptr ? ZMRMC_E_INVALIDARG : ZMRMC_E_FAIL;
}
ZmrMCStatus ZmrMCReadWriteE845String(int, char*, unsigned* length, int, const char*) {
    return length == nullptr ? ZMRMC_E_INVALIDARG : ZMRMC_E_FAIL;
}
int ZmrMCCall32bitInt15IOCtl(ZmrMCRegisterBlock* regs, int size, unsigned char* status) {
    if (Firmware() == nullptr) return NotReached(status);
    return Guard(kFalse, [&] { return Bool(Firmware()->CallInt15(regs, size, status)); });
}
int ZmrMCCall16bitIntIOCtl(int interrupt, ZmrMCRegisterBlock* regs, int size, unsigned char* status) {
    if (Firmware() == nullptr) return NotReached(status);
    return Guard(kFalse, [&] { return Bool(Firmware()->CallInterrupt(interrupt, regs, size, status)); });
}
int ZmrMCPxeNextBoot(char* value, int set) {
    return Guard(kFalse, [&] { return Bool(Firmware() != nullptr && Firmware()->PxeNextBoot(value, set != 0)); });
}
int ZmrMCSetSecuritySettings(const void* command, int length, unsigned char* status) {
    if (Firmware() == nullptr) return NotReached(status);
    return Guard(kFalse, [&] { return Bool(Firmware()->SecuritySettings(command, length, status)); });
}

// --- system objects -----------------------------------------------------------------------------------------
int ZmrMCChangeSysObjLockState(const char* password, uint16_t length, int lock, unsigned char* status) {
    if (Firmware() == nullptr) return NotReached(status);
    return Guard(kFalse, [&] { return Bool(Firmware()->ChangeLockState(password, length, lock != 0, status)); });
}
int ZmrMCGetSysObjListSize(uint32_t* size) {
    if (size == nullptr) return kFalse;
    *size = 0;
    return Guard(kFalse, [&] { return Bool(Firmware() != nullptr && Firmware()->ObjectListSize(size)); });
}
int ZmrMCGetSysObjList(void* list, uint32_t size) {
    return Guard(kFalse, [&] { return Bool(Firmware() != nullptr && Firmware()->ObjectList(list, size)); });
}
int ZmrMCGetSysObjInfo(uint16_t index, void* info, uint32_t length) {
    return Guard(kFalse, [&] { return Bool(Firmware() != nullptr && Firmware()->ObjectInfo(index, info, length)); });
}
int ZmrMCGetSysObjValue(uint16_t index, void* value, uint32_t length) {
    return Guard(kFalse, [&] { return Bool(Firmware() != nullptr && Firmware()->ObjectValue(index, value, length)); });
}
int ZmrMCSetSysObjValue(uint16_t index, const void* value, uint32_t length) {
    return Guard(kFalse,
                 [&] { return Bool(Firmware() != nullptr && Firmware()->SetObjectValue(index, value, length)); });
}

// --- boot order ---------------------------------------------------------------------------------------------
int ZmrMCGetIPLDevInfo(void* info, int* maxCount, int* entrySize, int* tableSize) {
    auto* record = static_cast<ZmrMCIplInfo*>(info);
    return Guard(kFalse, [&] {
        if (Firmware() == nullptr) {
            if (record != nullptr) *record = ZmrMCIplInfo{};
            for (int* out : {maxCount, entrySize, tableSize})
                if (out != nullptr) *out = 0;
            return kFalse;
        }
        return Bool(zmrmc::IplDeviceInfo(Firmware()->Transport(), record, maxCount, entrySize, tableSize));
    });
}
int ZmrMCGetIPLTableInfo(unsigned char* buffer, int length, int maxCount, int entrySize) {
    return Guard(kFalse, [&] {
        return Bool(Firmware() != nullptr &&
                    zmrmc::IplTable(Firmware()->Transport(), buffer, length, maxCount, entrySize));
    });
}
int ZmrMCSetIPLPriority(const unsigned char* priorityList, int count) {
    return Guard(kFalse, [&] {
        return Bool(Firmware() != nullptr && zmrmc::SetIplPriority(Firmware()->Transport(), priorityList, count));
    });
}

// --- SMBIOS -------------------------------------------------------------------------------------------------
int ZmrMCGetSMBTableSize(int* structureCount, int* tableLength) {
    if (structureCount != nullptr) *structureCount = 0;
    if (tableLength != nullptr) *tableLength = 0;
    return Guard(kFalse, [&] {
        return Bool(Firmware() != nullptr && Firmware()->SmbiosTableSize(structureCount, tableLength));
    });
}
int ZmrMCObtainSMBTable(void* buffer, int length) {
    return Guard(kFalse, [&] { return Bool(Firmware() != nullptr && Firmware()->ReadSmbiosTable(buffer, length)); });
}

// --- ROM flash ----------------------------------------------------------------------------------------------
int ZmrMCFlashRomFromCAB(const char*, const char*) { return ZMRMC_STATUS_NOT_REACHED; }

// --- scan codes ---------------------------------------------------------------------------------------------
int ConvertStringToKeyboardScanCodes(int mode, const char* text, unsigned char* codes, const char** errorPosition) {
    return Guard(kFalse, [&] { return Bool(zmrmc::KeyTextToScanCodes(mode, text, codes, errorPosition)); });
}

int ConvertPasswordTokenToScanCode(const char* text, unsigned char* codes, int capacity, const char** errorPosition) {
    return Guard(kFalse, [&] { return Bool(zmrmc::TaggedPasswordToScanCodes(text, codes, capacity, errorPosition)); });
}

// --- settings model -----------------------------------------------------------------------------------------
int BiosSettingsReadFromSystem(const char* password) {
    return Guard(kFalse, [&] {
        // Before ZmrMCInit there is no firmware to decide native or imitated objects on: take the reference only.
        if (Firmware() == nullptr) {
            Settings().BeginRead();
            return kFalse;
        }
        return Bool(zmrmc::ReadSettingsFromSystem(Settings(), zmrmc::ExportFirmwareCalls(), password));
    });
}
int BiosSettingsWriteToSystem(const char* password) {
    return Guard(
        kFalse, [&] { return Bool(zmrmc::WriteSettingsToSystem(Settings(), zmrmc::ExportFirmwareCalls(), password)); });
}
int BiosSettingsReadFromFile(const char* path, const char* password) {
    return Guard(kFalse, [&] {
        zmrmc::FirmwareCalls* firmware = Firmware() != nullptr ? &zmrmc::ExportFirmwareCalls() : nullptr;
        return Bool(zmrmc::ReadSettingsFromFile(Settings(), firmware, path, password));
    });
}
int BiosSettingsWriteToFile(const char* path, int format, const char* password) {
    return Guard(kFalse, [&] {
        zmrmc::FirmwareCalls* firmware = Firmware() != nullptr ? &zmrmc::ExportFirmwareCalls() : nullptr;
        return Bool(zmrmc::WriteSettingsToFile(Settings(), firmware, path, format, password));
    });
}

const char* BiosSettingsFindStringFromID(uint16_t id, SRI* table) {
    return Guard<const char*>(kEmpty, [&] { return Settings().FindString(id, table); });
}

int BiosSettingsFindIDFromString(uint16_t* id, const char* text) {
    return Guard(kFalse, [&] { return Bool(Settings().FindId(text, id)); });
}

SRI* BiosSettingsFindSRI(uint16_t nameId, const uint16_t* key) {
    return Guard<SRI*>(nullptr, [&] { return Settings().Find(nameId, key); });
}

int BiosSRIAddRef(void) {
    return Guard(0, [] { return Settings().AddRef(); });
}
int BiosSRIRelease(void) {
    return Guard(0, [] { return Settings().Release(); });
}
int BiosSettingsSRIEnumCount(void) {
    return Guard(0, [] { return Settings().Count(); });
}
SRI* BiosSettingsSRIEnumGetAt(int index) {
    return Guard<SRI*>(nullptr, [&] { return Settings().At(index); });
}
int BiosSettingsSetItemInfo(SRI* record, const char* password) {
    return Guard(
        kFalse, [&] { return Bool(zmrmc::CommitSetting(Settings(), zmrmc::ExportFirmwareCalls(), record, password)); });
}
int BiosSetSystemDefaults(const char* password) {
    return Guard(kFalse, [&] {
        return Bool(Firmware() != nullptr && zmrmc::SetSystemDefaults(zmrmc::ExportFirmwareCalls(), password));
    });
}

}  // extern "C"
