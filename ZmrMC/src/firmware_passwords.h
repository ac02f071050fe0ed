// The firmware's setup and power-on passwords: ZmrMCSetAPwd, ZmrMCChangeAdminPassword, ZmrMCGetIsPowerOnPwdSet,
// ZmrMCSetPowerOnPwd, ZmrMCChangePowerOnPassword and ZmrMCVerifyPowerOnPassword.
//
// Two firmware interfaces carry them: the E845h string call (setup password only, old and new together at most
// 15 keys) and the secure E842h interface of portable machines (power-on password, long passwords of up to 32
// keys, or a short setup password of up to 7 keys packed into EBX and ECX where long ones are not offered).
// Passwords are scan-code texts (NUL-terminated); a null text counts as empty. Every buffer that held one is
// cleared before it is released. Results are the status codes of ZmrMC.h; nothing is retried.
#pragma once

#include "ZmrMC.h"
#include "firmware_access.h"

namespace zmrmc {

class FirmwarePasswords {
public:
    explicit FirmwarePasswords(FirmwareAccess& firmware) : firmware_(firmware) {}

    // Changes the setup password from `old` to `fresh` (ZmrMCSetAPwd: old null). With a setup password set,
    // the system objects are unlocked with `old` first and locked again afterwards, with `fresh` when the
    // change succeeded, else with `old`.
    ZmrMCStatus ChangeSetup(const char* old, const char* fresh);

    // A power-on password is set (the secure interface's query says so).
    bool PowerOnSet();
    // Sets (no power-on password yet) or changes it; 0x80004005 on machines that are not portable.
    ZmrMCStatus ChangePowerOn(const char* old, const char* fresh);
    // Whether `text` is the power-on password; an empty text is right when none is set.
    bool VerifyPowerOn(const char* text);

    // What the secure interface's query answered.
    struct Query {
        bool ok = false;
        bool reached = false;  // false: the request itself failed
        uint8_t al = 0x86;     // the code a failed query reports (86h on a machine that is not portable)
        uint32_t ecx = 0, edx = 0;
        bool PowerOnFeature() const { return (edx & (1u << 5)) != 0; }
        bool LongPasswords() const { return (edx & (1u << 8)) != 0; }
        bool PowerOnPasswordSet() const { return (ecx & (1u << 5)) != 0; }
    };
    Query QuerySecure();

private:
    // How a secure request ended: `reached` false when the request or its conventional memory failed.
    struct Answer {
        bool reached = false;
        bool carry = false;
        uint8_t ah = 0;
    };
    // Operation `op` of the secure interface with up to two passwords of at most 32 keys (null: none).
    Answer Secure(uint16_t op, const char* first, const char* second);
    // Operation 3: a setup password of at most 7 keys in EBX and ECX with its checksum.
    Answer SecureShort(const char* fresh);
    // The E845h change: old, the slash key, new (together at most 15 keys). 0 or a status code.
    ZmrMCStatus E845Change(const char* old, const char* fresh);
    ZmrMCStatus SecureChangeSetup(const char* old, const char* fresh, bool setupSet);

    FirmwareAccess& firmware_;
};

}  // namespace zmrmc
