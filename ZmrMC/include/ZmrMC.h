/* ZmrMC: the BIOS access library.
 *
 * Plain C exports with undecorated names. Nothing throws across this boundary: failures are FALSE (0), a null
 * pointer, an empty text, a firmware status byte or a status code. Texts returned are owned by the library and
 * stay valid until the same value changes again or the library is unloaded; callers never free them.
 *
 * Calling order: ZmrMCInit first. Settings: BiosSettingsReadFromSystem, then enumeration and lookups, then
 * BiosSRIRelease once for each read. */
#ifndef ZMRMC_H
#define ZMRMC_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(ZMRMC_BUILDING)
#define ZMRMC_API __attribute__((visibility("default")))
#else
#define ZMRMC_API
#endif

/* Firmware status byte: 0 success, else the firmware's own return code (AH). */
#define ZMRMC_STATUS_NOT_REACHED 250 /* the request never reached the firmware */

/* Status codes of the password and string exports. */
#define ZMRMC_S_OK 0x00000000u
#define ZMRMC_E_FAIL 0x80004005u          /* no driver open, or the request failed */
#define ZMRMC_E_INVALIDARG 0x80070057u    /* null length pointer */
#define ZMRMC_E_UNLOCK_FAILED 0x80000087u /* the setup password did not unlock the firmware */
#define ZMRMC_E_TOO_LONG 0x80000080u      /* old and new password together exceed 15 characters */
#define ZMRMC_E_FIRMWARE 0x80000000u      /* plus AH: the firmware refused the call */
#define ZMRMC_E_POWERON_STEP1 0x80005600u /* plus the firmware's code, first power-on step */
#define ZMRMC_E_POWERON_STEP2 0x80005700u /* plus the firmware's code, second power-on step */
#define ZMRMC_E_DETECT 0x800A03E8u        /* ZmrMCDetect: no driver, or a scan is already running */

typedef uint32_t ZmrMCStatus;

#pragma pack(push, 1)

/* Register block of INT 15h and 16-bit interrupt calls: 40 bytes, then the caller's data area. */
typedef struct ZmrMCRegisterBlock {
    uint32_t eax; /* AL at byte 0, AH at byte 1: AH carries the firmware's return code */
    uint32_t ebx;
    uint32_t ecx;
    uint32_t edx;
    uint32_t esi;
    uint32_t edi;        /* low word: offset of a data block */
    uint32_t segments;   /* low word: real-mode segment of a data block; high word: a second one */
    uint32_t eflags;     /* on return; bit 0 = carry = failure */
    uint32_t dataLength; /* data-area length, and its second copy */
    uint32_t dataLength2;
    unsigned char data[]; /* the data area, as long as the caller's block */
} ZmrMCRegisterBlock;

/* A device found by ZmrMCDetect. */
/* Boot device information (ZmrMCGetIPLDevInfo): BIOS Boot Specification version, IPL entry count, maximum
 * entry count and the size of one IPL entry as the firmware reports them. */
typedef struct ZmrMCIplInfo {
    uint16_t version;
    uint16_t count;
    uint16_t maxCount;
    uint16_t entrySize;
} ZmrMCIplInfo;

typedef struct ZmrMCFoundDevice {
    char identifier[8]; /* first 8 bytes of the identifier text, all zero when it is empty */
    uint32_t fields[6];
    uint16_t words[2];
} ZmrMCFoundDevice;

/* Setting record (SRI). Owned by the library; callers read it and edit value fields in place before
 * BiosSettingsSetItemInfo. On a 32-bit target it is exactly 68 bytes with the offsets noted; on a 64-bit
 * target the two pointers are 8 bytes wide, which moves the fields after them (size then holds 76). */
typedef struct SRI {
    uint32_t size;           /*  0: the record's size */
    uint16_t objectIndex;    /*  4: the firmware's number for the object */
    uint16_t type;           /*  6: type code 0..10 */
    uint16_t flags;          /*  8: bit 1 (value 2) = read-only; other bits as the firmware gave them */
    uint16_t path[6];        /* 10: menu path string IDs, outermost first, 0xFFFF unused */
    uint16_t pathDepth;      /* 22: entries before the first 0xFFFF */
    uint16_t nameId;         /* 24: name string ID */
    uint16_t currentIndex;   /* 26: index into the choices (types 0 and 9) */
    uint16_t instanceKey[4]; /* 28: sub-name string IDs (types 9 and 10), 0xFFFF empty */
    uint32_t lowerBound;     /* 36: types 3 and 10 */
    uint32_t upperBound;     /* 40: types 3 and 10; maximum text length for types 1, 4, 6, 7 */
    uint32_t changed;        /* 44: nonzero while the record awaits a write */
    uint16_t elementCount;   /* 48: elements in the value buffer */
    uint32_t valueSize;      /* 50: value buffer size in bytes */
    void* value;             /* 54: value buffer */
    uint16_t prereqCount;    /* 58 (32-bit) / 62 (64-bit): prerequisite texts, 0 = none */
    uint32_t prereqSize;     /* 60 / 64: prerequisite buffer size in bytes */
    char* prereqs;           /* 64 / 68: NUL-separated texts ending with an empty text */
} SRI;

#pragma pack(pop)

/* Setting type codes. */
enum {
    SRI_TYPE_ENUM = 0,
    SRI_TYPE_TEXT = 1,
    SRI_TYPE_BINARY = 2,
    SRI_TYPE_INTEGER = 3,
    SRI_TYPE_PASSWORD = 4,
    SRI_TYPE_STRING_TABLE = 5,
    SRI_TYPE_DATE = 6,
    SRI_TYPE_TIME = 7,
    SRI_TYPE_ORDERED_LIST = 8,
    SRI_TYPE_KEYED_ENUM = 9,
    SRI_TYPE_KEYED_INTEGER = 10
};
#define SRI_FLAG_READ_ONLY 0x0002

/* --- initialisation and detection --------------------------------------------------------------------- */
ZMRMC_API int ZmrMCInit(int openExisting, int installDriver);
ZMRMC_API int ZmrMCDetect(void);
ZMRMC_API int ZmrMCObtainBiosData(void);
ZMRMC_API int ZmrMCGetFoundDevicesCount(void);
ZMRMC_API int ZmrMCGetFoundDeviceAtIndex(int index, ZmrMCFoundDevice* out);

/* --- operating-system identity ------------------------------------------------------------------------- */
ZMRMC_API const char* ZmrMCGetOpSysLangCode(void);
ZMRMC_API const char* ZmrMCGetOpSysCode(void);
ZMRMC_API const char* ZmrMCGetOpSysServiceRelease(void);
ZMRMC_API int ZmrMCGetOpSysPlatform(void);

/* --- system identity ----------------------------------------------------------------------------------- */
ZMRMC_API int ZmrMCGetMachineID(void);
ZMRMC_API const char* ZmrMCGetROMVersion(void);
ZMRMC_API const char* ZmrMCGetROMFamily(void);
ZMRMC_API const char* ZmrMCGetProductName(void);
ZMRMC_API const char* ZmrMCGetSmbiosBiosVersion(void);
ZMRMC_API const char* ZmrMCGetSmbiosBiosReleaseDate(void);
ZMRMC_API const char* ZmrMCGetSystemManufacturer(void);
ZMRMC_API const char* ZmrMCGetSystemProduct(void);
ZMRMC_API const char* ZmrMCGetSystemVersion(void);
ZMRMC_API const char* ZmrMCGetBaseBoardManufacturer(void);
ZMRMC_API const char* ZmrMCGetBaseBoardProduct(void);
ZMRMC_API const char* ZmrMCGetBaseBoardVersion(void);
ZMRMC_API const char* ZmrMCGetSerialNumber(void);
ZMRMC_API const char* ZmrMCGetAssetTag(void);
ZMRMC_API const char* ZmrMCGetOwnershipString(void);
ZMRMC_API int ZmrMCSetAssetTag(const char* tag);
ZMRMC_API int ZmrMCIsCPUSerNumSupported(void);

/* --- passwords (texts are scan-code strings) ----------------------------------------------------------- */
ZMRMC_API int ZmrMCGetIsAPwdSet(void);
ZMRMC_API ZmrMCStatus ZmrMCSetAPwd(const char* password);
ZMRMC_API ZmrMCStatus ZmrMCChangeAdminPassword(const char* oldPassword, const char* newPassword);
ZMRMC_API int ZmrMCGetIsPowerOnPwdSet(void);
ZMRMC_API ZmrMCStatus ZmrMCSetPowerOnPwd(const char* password);
ZMRMC_API ZmrMCStatus ZmrMCChangePowerOnPassword(const char* oldPassword, const char* newPassword);
ZMRMC_API int ZmrMCVerifyPowerOnPassword(const char* password);

/* --- firmware strings and calls ------------------------------------------------------------------------ */
ZMRMC_API ZmrMCStatus ZmrMCReadWriteFirstBootString(char* buffer, unsigned* length, int write);
ZMRMC_API ZmrMCStatus ZmrMCReadWriteProductNameString(char* buffer, unsigned* length, int write, const char* password);
ZMRMC_API ZmrMCStatus ZmrMCReadWriteE845String(int index, char* buffer, unsigned* length, int write,
                                               const char* password);
ZMRMC_API int ZmrMCCall32bitInt15IOCtl(ZmrMCRegisterBlock* regs, int size, unsigned char* status);
ZMRMC_API int ZmrMCCall16bitIntIOCtl(int interrupt, ZmrMCRegisterBlock* regs, int size, unsigned char* status);
ZMRMC_API int ZmrMCPxeNextBoot(char* value, int set);
ZMRMC_API int ZmrMCSetSecuritySettings(const void* command, int length, unsigned char* status);

/* --- system objects ------------------------------------------------------------------------------------ */
ZMRMC_API int ZmrMCChangeSysObjLockState(const char* password, uint16_t length, int lock, unsigned char* status);
ZMRMC_API int ZmrMCGetSysObjListSize(uint32_t* size);
ZMRMC_API int ZmrMCGetSysObjList(void* list, uint32_t size);
ZMRMC_API int ZmrMCGetSysObjInfo(uint16_t index, void* info, uint32_t length);
ZMRMC_API int ZmrMCGetSysObjValue(uint16_t index, void* value, uint32_t length);
ZMRMC_API int ZmrMCSetSysObjValue(uint16_t index, const void* value, uint32_t length);

/* --- boot order ---------------------------------------------------------------------------------------- */
/* info: a ZmrMCIplInfo, or null. */
ZMRMC_API int ZmrMCGetIPLDevInfo(void* info, int* maxCount, int* entrySize, int* tableSize);
ZMRMC_API int ZmrMCGetIPLTableInfo(unsigned char* buffer, int length, int maxCount, int entrySize);
ZMRMC_API int ZmrMCSetIPLPriority(const unsigned char* priorityList, int count);

/* --- SMBIOS -------------------------------------------------------------------------------------------- */
ZMRMC_API int ZmrMCGetSMBTableSize(int* structureCount, int* tableLength);
ZMRMC_API int ZmrMCObtainSMBTable(void* buffer, int length);

/* --- ROM flash: returns the flash status byte, 0 meaning success --------------------------------------- */
/* path: a cabinet holding "ROM.BIN" and "ROM.SIG", or an image whose name ends in ".BIN" (any case) beside
   its ".SIG". password: the setup password's scan codes (null: none). Statuses of the call gate's protocol
   arrive reduced to their low 8 bits (280 as 24, 281 as 25, 289, the gate failing, as 33). 252 means the
   ROM holds its contents from before the flash again, 240 that it holds neither image whole, 19 that the
   firmware forbade a retry part-way (the ROM may hold part of the image); refusals before writing (17, 24,
   25, 128, 245, 246) leave the ROM untouched; a firmware status on the driver path comes when the ROM could
   not even be read first (a wrong password, an image of another size than the part). */
#define ZMRMC_FLASH_OK 0
#define ZMRMC_FLASH_VERSION 17        /* the firmware's flash interface is not version 1.0 */
#define ZMRMC_FLASH_NO_RETRY 19       /* the firmware refused the flash and forbids a retry */
#define ZMRMC_FLASH_GEOMETRY 24       /* (280) the ROM is not a whole number of blocks of at most 4096 bytes */
#define ZMRMC_FLASH_SIZE 25           /* (281) the image's length differs from the ROM's */
#define ZMRMC_FLASH_PASSWORD 128      /* the password is longer than 32 bytes */
#define ZMRMC_FLASH_NOT_WRITTEN 240   /* not written, and the saved contents could not be written back */
#define ZMRMC_FLASH_NO_IMAGE 245      /* no usable image: missing, unreadable or shorter than 0x40000 bytes */
#define ZMRMC_FLASH_BAD_SIGNATURE 246 /* the image's signature is missing or does not verify */
#define ZMRMC_FLASH_RESTORED 252      /* not written; the saved contents were written back */
ZMRMC_API int ZmrMCFlashRomFromCAB(const char* path, const char* password);

/* --- scan codes: 1 on success, 0 on failure ------------------------------------------------------------ */
/* codes must hold strlen(text) + 1 bytes. */
ZMRMC_API int ConvertStringToKeyboardScanCodes(int mode, const char* text, unsigned char* codes,
                                               const char** errorPosition);
/* Tagged text ("<kbd/>1E30", "<en-US/>abc"); 0 for text that is not a well-formed tagged password. Never
 * writes more than capacity bytes. */
ZMRMC_API int ConvertPasswordTokenToScanCode(const char* text, unsigned char* codes, int capacity,
                                             const char** errorPosition);

/* --- settings model ------------------------------------------------------------------------------------ */
ZMRMC_API int BiosSettingsReadFromSystem(const char* password);
ZMRMC_API int BiosSettingsWriteToSystem(const char* password);
ZMRMC_API int BiosSettingsReadFromFile(const char* path, const char* password);
ZMRMC_API int BiosSettingsWriteToFile(const char* path, int format, const char* password);
ZMRMC_API const char* BiosSettingsFindStringFromID(uint16_t id, SRI* table);
ZMRMC_API int BiosSettingsFindIDFromString(uint16_t* id, const char* text);
ZMRMC_API SRI* BiosSettingsFindSRI(uint16_t nameId, const uint16_t* key);
ZMRMC_API int BiosSRIAddRef(void);
ZMRMC_API int BiosSRIRelease(void);
ZMRMC_API int BiosSettingsSRIEnumCount(void);
ZMRMC_API SRI* BiosSettingsSRIEnumGetAt(int index);
ZMRMC_API int BiosSettingsSetItemInfo(SRI* record, const char* password);
ZMRMC_API int BiosSetSystemDefaults(const char* password);

#ifdef __cplusplus
}
#endif

#endif /* ZMRMC_H */
