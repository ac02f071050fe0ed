// The firmware's passwords and the lock of its system objects.
//
// Passwords are kept as firmware keeps them: never the scan codes themselves, only a salted SHA-1 digest of
// them ("<salt>:<digest>", both hexadecimal; "" for no password). A candidate is checked by hashing it with
// the stored salt. A state written before passwords were hashed held the scan codes as plain hexadecimal; such
// a value is hashed the first time the firmware runs on it.
//
// With a setup password set the system objects are locked. An unlock lasts until the objects are locked again
// or until the process that unlocked them (the driver) has ended: a driver killed in the middle of its work
// does not leave the firmware open.

#include "machine_store.h"
#include "simulated_firmware.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qv::machine {
namespace {

constexpr size_t kSaltBytes = 8;

Bytes Digest(const Bytes& salt, const Bytes& codes) {
    Bytes input(salt);
    input.insert(input.end(), codes.begin(), codes.end());
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    bool ok = EVP_Digest(input.data(), input.size(), digest, &length, EVP_sha1(), nullptr) == 1;
    std::fill(input.begin(), input.end(), 0);
    if (!ok) throw std::runtime_error("the firmware cannot hash a password (SHA-1 unavailable)");
    return Bytes(digest, digest + length);
}

// The scan codes up to the first NUL: a password travels NUL-terminated or in a NUL-padded field.
Bytes Codes(const Bytes& given) { return Bytes(given.begin(), std::find(given.begin(), given.end(), 0)); }

bool IsPlainHex(const std::string& stored) { return !stored.empty() && stored.find(':') == std::string::npos; }

// The start of a process as the kernel counts it (clock ticks after boot); 0 when there is no such process or
// it has ended (a zombie not yet reaped has ended).
unsigned long long ProcessStart(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t close = stat.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    for (int i = 3; i < 22 && fields >> field; ++i)
        if (i == 3 && (field == "Z" || field == "X")) return 0;
    unsigned long long start = 0;
    fields >> start;
    return start;
}

std::string ThisProcess() {
    pid_t pid = ::getpid();
    return std::to_string(pid) + ":" + std::to_string(ProcessStart(pid));
}

bool ProcessRuns(const std::string& identity) {
    size_t colon = identity.find(':');
    if (colon == std::string::npos) return false;
    pid_t pid = static_cast<pid_t>(std::stol(identity.substr(0, colon)));
    if (pid == ::getpid()) return identity == ThisProcess();
    unsigned long long start = ProcessStart(pid);
    return start != 0 && std::to_string(start) == identity.substr(colon + 1);
}

}  // namespace

std::string StoredPassword(const Bytes& codes) {
    Bytes plain = Codes(codes);
    if (plain.empty()) return "";
    Bytes salt(kSaltBytes);
    if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1)
        throw std::runtime_error("the firmware cannot store a password (no random salt)");
    std::string stored = HexText(salt) + ":" + HexText(Digest(salt, plain));
    std::fill(plain.begin(), plain.end(), 0);
    return stored;
}

bool StoredPasswordIs(const std::string& stored, const Bytes& given) {
    Bytes codes = Codes(given);
    bool same;
    if (stored.empty()) {
        same = codes.empty();
    } else if (IsPlainHex(stored)) {
        same = HexBytes(stored) == codes;
    } else {
        size_t colon = stored.find(':');
        same = !codes.empty() && HexText(Digest(HexBytes(stored.substr(0, colon)), codes)) == stored.substr(colon + 1);
    }
    std::fill(codes.begin(), codes.end(), 0);
    return same;
}

void SimulatedFirmware::HashPlainPasswords() {
    for (const char* key : {kSetupPassword, kPowerOnPassword}) {
        std::string stored = state_.value(key, "");
        if (IsPlainHex(stored)) {
            state_[key] = StoredPassword(HexBytes(stored));
            changed_ = true;
        }
    }
}

bool SimulatedFirmware::PasswordSet(const char* key) const { return !state_.value(key, "").empty(); }

bool SimulatedFirmware::PasswordIs(const char* key, const Bytes& given) const {
    return StoredPasswordIs(state_.value(key, ""), given);
}

void SimulatedFirmware::StorePassword(const char* key, const Bytes& codes) {
    Set(key, StoredPassword(codes));
    if (std::string(key) == kSetupPassword && Codes(codes).empty()) Set("unlocked", false);
}

std::string SimulatedFirmware::PasswordDigestText(const char* key) const {
    std::string stored = state_.value(key, "");
    size_t colon = stored.find(':');
    return colon == std::string::npos ? std::string() : stored.substr(colon + 1);
}

bool SimulatedFirmware::Locked() const {
    if (!PasswordSet(kSetupPassword)) return false;
    if (!state_.value("unlocked", false)) return true;
    std::string owner = state_.value("unlocked_by", "");
    return !owner.empty() && !ProcessRuns(owner);
}

uint8_t SimulatedFirmware::SetupPasswordState(uint32_t& set, CallOutcome& outcome) {
    Injected fault = Inject("password.state");
    if (fault.fail) return outcome.reached = false, kUnsupported;
    if (fault.status) return *fault.status;
    set = PasswordSet(kSetupPassword) ? 1 : 0;
    return kOk;
}

uint8_t SimulatedFirmware::ChangeLockState(bool lock, const Bytes& password, CallOutcome& outcome) {
    Injected fault = Inject(lock ? "object.lock" : "object.unlock");
    if (fault.fail) return outcome.reached = false, kUnsupported;
    if (fault.status) return *fault.status;
    if (!PasswordSet(kSetupPassword)) return kOk;
    if (lock) {
        Set("unlocked", false);
        return kOk;
    }
    if (!PasswordIs(kSetupPassword, password)) return kWrongPassword;
    Set("unlocked", true);
    Set("unlocked_by", ThisProcess());
    return kOk;
}

}  // namespace qv::machine
