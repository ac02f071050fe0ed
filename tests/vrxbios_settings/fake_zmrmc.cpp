// A stand-in for the settings library with every export the provider looks up, except BiosSetSystemDefaults
// and BiosSRIAddRef (which the provider can do without). Built a second time without ZmrMCGetIPLTableInfo, an
// export the provider cannot do without. ZmrMCInit records its calls; every other export answers 0.
#define FAKE_EXPORT __attribute__((visibility("default")))

extern "C" {

FAKE_EXPORT int fake_init_calls = 0;
FAKE_EXPORT int fake_init_first = -1;
FAKE_EXPORT int fake_init_second = -1;

FAKE_EXPORT int ZmrMCInit(int first, int second) {
    ++fake_init_calls;
    fake_init_first = first;
    fake_init_second = second;
    return 7;
}

FAKE_EXPORT int ZmrMCDetect(void) { return 0; }
FAKE_EXPORT int ZmrMCObtainBiosData(void) { return 0; }
FAKE_EXPORT int ZmrMCGetFoundDevicesCount(void) { return 0; }
FAKE_EXPORT int ZmrMCGetIsAPwdSet(void) { return 0; }
FAKE_EXPORT int ZmrMCGetOpSysLangCode(void) { return 0; }
FAKE_EXPORT int ZmrMCGetOpSysCode(void) { return 0; }
FAKE_EXPORT int ZmrMCGetOpSysServiceRelease(void) { return 0; }
FAKE_EXPORT int ZmrMCGetOpSysPlatform(void) { return 0; }
FAKE_EXPORT int ZmrMCGetMachineID(void) { return 0; }
FAKE_EXPORT int ZmrMCGetBaseBoardProduct(void) { return 0; }
FAKE_EXPORT int ZmrMCGetROMVersion(void) { return 0; }
FAKE_EXPORT int ZmrMCGetSmbiosBiosVersion(void) { return 0; }
FAKE_EXPORT int ZmrMCGetSmbiosBiosReleaseDate(void) { return 0; }
FAKE_EXPORT int ZmrMCGetROMFamily(void) { return 0; }
FAKE_EXPORT int ZmrMCGetAssetTag(void) { return 0; }
FAKE_EXPORT int ZmrMCGetOwnershipString(void) { return 0; }
FAKE_EXPORT int ZmrMCGetSerialNumber(void) { return 0; }
FAKE_EXPORT int ZmrMCGetFoundDeviceAtIndex(void) { return 0; }
FAKE_EXPORT int ZmrMCPxeNextBoot(void) { return 0; }
FAKE_EXPORT int ZmrMCFlashRomFromCAB(void) { return 0; }
FAKE_EXPORT int ZmrMCSetAPwd(void) { return 0; }
FAKE_EXPORT int ZmrMCChangeAdminPassword(void) { return 0; }
FAKE_EXPORT int ZmrMCReadWriteFirstBootString(void) { return 0; }
FAKE_EXPORT int ZmrMCReadWriteProductNameString(void) { return 0; }
FAKE_EXPORT int ZmrMCReadWriteE845String(void) { return 0; }
FAKE_EXPORT int ZmrMCCall32bitInt15IOCtl(void) { return 0; }
FAKE_EXPORT int ZmrMCCall16bitIntIOCtl(void) { return 0; }
FAKE_EXPORT int ZmrMCIsCPUSerNumSupported(void) { return 0; }
FAKE_EXPORT int ZmrMCSetSecuritySettings(void) { return 0; }
FAKE_EXPORT int ZmrMCChangeSysObjLockState(void) { return 0; }
FAKE_EXPORT int ZmrMCGetSysObjListSize(void) { return 0; }
FAKE_EXPORT int ZmrMCGetSysObjList(void) { return 0; }
FAKE_EXPORT int ZmrMCGetSysObjInfo(void) { return 0; }
FAKE_EXPORT int ZmrMCGetSysObjValue(void) { return 0; }
FAKE_EXPORT int ZmrMCSetSysObjValue(void) { return 0; }
FAKE_EXPORT int ZmrMCGetIPLDevInfo(void) { return 0; }
#ifndef FAKE_WITHOUT_REQUIRED_EXPORT
FAKE_EXPORT int ZmrMCGetIPLTableInfo(void) { return 0; }
#endif
FAKE_EXPORT int ZmrMCSetIPLPriority(void) { return 0; }
FAKE_EXPORT int ZmrMCGetSystemManufacturer(void) { return 0; }
FAKE_EXPORT int ZmrMCGetSystemProduct(void) { return 0; }
FAKE_EXPORT int ZmrMCGetSystemVersion(void) { return 0; }
FAKE_EXPORT int ZmrMCGetBaseBoardManufacturer(void) { return 0; }
FAKE_EXPORT int ZmrMCGetBaseBoardVersion(void) { return 0; }
FAKE_EXPORT int ConvertStringToKeyboardScanCodes(void) { return 0; }
FAKE_EXPORT int ConvertPasswordTokenToScanCode(void) { return 0; }
FAKE_EXPORT int BiosSettingsReadFromSystem(void) { return 0; }
FAKE_EXPORT int BiosSettingsWriteToSystem(void) { return 0; }
FAKE_EXPORT int BiosSettingsReadFromFile(void) { return 0; }
FAKE_EXPORT int BiosSettingsWriteToFile(void) { return 0; }
FAKE_EXPORT int BiosSettingsFindStringFromID(void) { return 0; }
FAKE_EXPORT int BiosSettingsFindIDFromString(void) { return 0; }
FAKE_EXPORT int BiosSettingsFindSRI(void) { return 0; }
FAKE_EXPORT int BiosSettingsSetItemInfo(void) { return 0; }
FAKE_EXPORT int BiosSettingsSRIEnumCount(void) { return 0; }
FAKE_EXPORT int BiosSettingsSRIEnumGetAt(void) { return 0; }
FAKE_EXPORT int ZmrMCGetIsPowerOnPwdSet(void) { return 0; }
FAKE_EXPORT int ZmrMCSetPowerOnPwd(void) { return 0; }
FAKE_EXPORT int ZmrMCChangePowerOnPassword(void) { return 0; }
FAKE_EXPORT int ZmrMCVerifyPowerOnPassword(void) { return 0; }
FAKE_EXPORT int BiosSRIRelease(void) { return 0; }

}  // extern "C"
