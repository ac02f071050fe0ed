#include "firmware_passwords.h"

#include "secret_bytes.h"

#include <cstring>

namespace zmrmc {
namespace {

constexpr uint32_t kSecureSignature = 0x53454355;  // "SECU" in EDX
constexpr size_t kSecureRequest = 34;              // registers and the interrupt number
constexpr size_t kPasswordField = 33;              // 32 keys and a NUL
constexpr size_t kLongestPassword = 32;
constexpr size_t kShortPasswordKeys = 7;
constexpr size_t kE845Limit = 15;  // old and new together
constexpr uint8_t kSlashKey = 0x35;
constexpr uint16_t kSetSetupShort = 3, kSetPowerOn = 6, kSetSetup = 7, kVerifyPowerOn = 8, kChangePowerOn = 0xA,
                   kChangeSetup = 0xB;

void Put16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
void Put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
uint32_t Get32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

size_t Length(const char* text) { return text != nullptr ? std::strlen(text) : 0; }

ZmrMCStatus Refused(uint8_t code) { return ZMRMC_E_FIRMWARE + code; }

}  // namespace

FirmwarePasswords::Query FirmwarePasswords::QuerySecure() {
    Query query;
    query.reached = true;
    if (!firmware_.Identity().portable) return query;  // only portable machines have the interface
    SharedBuffer block(kSecureRequest);
    if (!block.ok()) return query.reached = false, query;
    uint8_t* b = block.data();
    Put32(b, 0xE842);  // operation 0: the query
    Put32(b + 12, kSecureSignature);
    Put16(b + 32, 0x15);
    if (!firmware_.Transport().Request(kIoctlInt16Bit, b, kSecureRequest, b, kSecureRequest, nullptr))
        return query.reached = false, query;
    query.al = b[0];
    query.ok = (Get32(b + 28) & 1) == 0;
    query.ecx = Get32(b + 8);
    query.edx = Get32(b + 12);
    return query;
}

FirmwarePasswords::Answer FirmwarePasswords::Secure(uint16_t op, const char* first, const char* second) {
    Answer answer;
    size_t fields = second != nullptr ? 2 : first != nullptr ? 1 : 0;
    if (Length(first) > kLongestPassword || Length(second) > kLongestPassword) return answer;
    size_t area = fields * kPasswordField;
    size_t size = kSecureRequest + area;
    SharedBuffer block(size);
    if (!block.ok()) return answer;
    uint8_t* b = block.data();
    Put32(b, 0xE842u | static_cast<uint32_t>(op) << 16);
    Put32(b + 12, kSecureSignature);
    Put16(b + 32, 0x15);
    if (first != nullptr) std::memcpy(b + kSecureRequest, first, Length(first));
    if (second != nullptr) std::memcpy(b + kSecureRequest + kPasswordField, second, Length(second));
    DriverTransport& transport = firmware_.Transport();
    uint16_t segment = 0;
    if (area > 0) {
        segment = transport.GrantMemory(block.Address(kSecureRequest), static_cast<uint32_t>(area));
        if (segment == 0) {
            SecureZeroMemory(b, size);
            return answer;
        }
        Put16(b + 20, 0);  // DI: the first password starts the block
        Put16(b + 24, segment);
        if (fields == 2) {
            Put32(b + 16, kPasswordField);  // ESI: where the second one starts
            Put16(b + 26, segment);
        }
    }
    answer.reached = transport.Request(kIoctlInt16Bit, b, static_cast<uint32_t>(size), b, static_cast<uint32_t>(size),
                                       nullptr);
    if (segment != 0) transport.ReleaseMemory(segment);
    answer.carry = (Get32(b + 28) & 1) != 0;
    answer.ah = b[1];
    SecureZeroMemory(b, size);
    return answer;
}

FirmwarePasswords::Answer FirmwarePasswords::SecureShort(const char* fresh) {
    Answer answer;
    size_t length = Length(fresh);
    if (length > kShortPasswordKeys) return answer;
    SharedBuffer block(kSecureRequest);
    if (!block.ok()) return answer;
    uint8_t* b = block.data();
    Put32(b, 0xE842u | static_cast<uint32_t>(kSetSetupShort) << 16);
    Put32(b + 12, kSecureSignature);
    Put16(b + 32, 0x15);
    // Byte order reversed inside each 4-byte group of EBX and ECX; the checksum takes the low byte of ECX.
    uint8_t sum = 0;
    for (size_t i = 0; i < length; ++i) {
        uint8_t key = static_cast<uint8_t>(fresh[i]);
        b[4 + 4 * (i / 4) + 3 - (i % 4)] = key;
        sum = static_cast<uint8_t>(sum + key);
    }
    b[8] = sum;
    answer.reached = firmware_.Transport().Request(kIoctlInt16Bit, b, kSecureRequest, b, kSecureRequest, nullptr);
    answer.carry = (Get32(b + 28) & 1) != 0;
    answer.ah = b[1];
    SecureZeroMemory(b, kSecureRequest);
    return answer;
}

ZmrMCStatus FirmwarePasswords::E845Change(const char* old, const char* fresh) {
    size_t oldLength = Length(old), newLength = Length(fresh);
    if (oldLength + newLength > kE845Limit) return ZMRMC_E_TOO_LONG;
    constexpr size_t kArea = kE845Limit + 2;  // both passwords, the separator and the NUL
    SecretBytes raw(40 + kArea);
    auto* regs = reinterpret_cast<ZmrMCRegisterBlock*>(raw.data());
    regs->eax = 0xE845;
    regs->ebx = 1;
    regs->ecx = 0x11;
    regs->dataLength = kArea;
    regs->dataLength2 = kArea;
    uint8_t* text = raw.data() + 40;
    if (oldLength > 0) std::memcpy(text, old, oldLength);
    text[oldLength] = kSlashKey;
    if (newLength > 0) std::memcpy(text + oldLength + 1, fresh, newLength);
    unsigned char status = 0;
    firmware_.CallInt15(regs, static_cast<int>(raw.size()), &status);
    if (status == ZMRMC_STATUS_NOT_REACHED) return ZMRMC_E_FAIL;
    return (regs->eflags & 1) != 0 ? Refused(static_cast<uint8_t>(regs->eax >> 8)) : ZMRMC_S_OK;
}

ZmrMCStatus FirmwarePasswords::SecureChangeSetup(const char* old, const char* fresh, bool setupSet) {
    Query query = QuerySecure();
    if (!query.ok) return query.reached ? Refused(query.al) : ZMRMC_E_FAIL;
    Answer answer;
    if (!query.LongPasswords()) {
        if (Length(fresh) > kShortPasswordKeys) return ZMRMC_E_TOO_LONG;
        answer = SecureShort(fresh);
    } else {
        if (Length(old) > kLongestPassword || Length(fresh) > kLongestPassword) return ZMRMC_E_TOO_LONG;
        answer = setupSet ? Secure(kChangeSetup, old, fresh) : Secure(kSetSetup, fresh, nullptr);
    }
    if (!answer.reached) return ZMRMC_E_FAIL;
    return answer.carry ? Refused(answer.ah) : ZMRMC_S_OK;
}

ZmrMCStatus FirmwarePasswords::ChangeSetup(const char* old, const char* fresh) {
    if (!firmware_.DriverOpen()) return ZMRMC_E_FAIL;
    SecretBytes oldText = SecretBytes::Text(old), newText = SecretBytes::Text(fresh);
    bool set = firmware_.SetupPasswordSet();
    bool unlocked = false;
    unsigned char status = 0;
    if (set) {
        // The lock-state call takes the password's length with its terminator (0 for none).
        if (oldText.size() > 0xFFFF) return ZMRMC_E_UNLOCK_FAILED;
        uint16_t length = old != nullptr ? static_cast<uint16_t>(oldText.size()) : 0;
        unlocked = firmware_.ChangeLockState(old != nullptr ? oldText.text() : nullptr, length, false, &status);
        if (!unlocked) return ZMRMC_E_UNLOCK_FAILED;
    }
    ZmrMCStatus result = E845Change(oldText.text(), newText.text());
    if (result != ZMRMC_S_OK && firmware_.Identity().portable)
        result = SecureChangeSetup(oldText.text(), newText.text(), set);
    if (unlocked) {
        const SecretBytes& with = result == ZMRMC_S_OK && newText.size() <= 0xFFFF ? newText : oldText;
        firmware_.ChangeLockState(with.text(), static_cast<uint16_t>(with.size()), true, &status);
    }
    return result;
}

bool FirmwarePasswords::PowerOnSet() {
    Query query = QuerySecure();
    return query.ok && query.PowerOnFeature() && query.PowerOnPasswordSet();
}

ZmrMCStatus FirmwarePasswords::ChangePowerOn(const char* old, const char* fresh) {
    if (!firmware_.Identity().portable) return ZMRMC_E_FAIL;
    Query query = QuerySecure();
    if (!query.ok) return query.reached ? Refused(query.al) : ZMRMC_E_FAIL;
    if (!query.PowerOnFeature()) return ZMRMC_E_POWERON_STEP1 + query.al;
    if (!query.LongPasswords()) return ZMRMC_E_POWERON_STEP2 + query.al;
    if (Length(old) > kLongestPassword || Length(fresh) > kLongestPassword) return ZMRMC_E_TOO_LONG;
    SecretBytes newText = SecretBytes::Text(fresh);
    Answer answer = query.PowerOnPasswordSet() ? Secure(kChangePowerOn, old != nullptr ? old : "", newText.text())
                                               : Secure(kSetPowerOn, newText.text(), nullptr);
    if (!answer.reached) return ZMRMC_E_FAIL;
    return answer.carry ? Refused(answer.ah) : ZMRMC_S_OK;
}

bool FirmwarePasswords::VerifyPowerOn(const char* text) {
    if (!firmware_.Identity().portable) return false;
    Query query = QuerySecure();
    if (!query.ok) return false;
    bool set = query.PowerOnFeature() && query.PowerOnPasswordSet();
    bool empty = Length(text) == 0;
    if (!set) return empty;
    if (empty || !query.LongPasswords() || Length(text) > kLongestPassword) return false;
    Answer answer = Secure(kVerifyPowerOn, text, nullptr);
    return answer.reached && !answer.carry;
}

}  // namespace zmrmc
