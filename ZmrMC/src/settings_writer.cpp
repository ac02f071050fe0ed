#include "settings_writer.h"

#include "setting_commit.h"

namespace zmrmc {
namespace {

constexpr uint32_t kDefaults = 0xE841;

// One E841h call with BH = `step`, 32-bit or 16-bit.
bool DefaultsCall(FirmwareCalls& firmware, bool thirtyTwoBit, uint8_t step) {
    ZmrMCRegisterBlock regs{};
    regs.eax = kDefaults;
    regs.ebx = static_cast<uint32_t>(step) << 8;
    return thirtyTwoBit ? firmware.Int15(&regs, sizeof regs) : firmware.Interrupt15(&regs, sizeof regs);
}

}  // namespace

bool WriteSettingsToSystem(SettingsModel& model, FirmwareCalls& firmware, const char* password) {
    CriticalSectionLock hold(model.Lock());
    if (!model.ReadCompleted()) return false;
    for (int i = 0; i < model.Count(); ++i) {
        SRI* record = model.At(i);
        if (record == nullptr || record->changed == 0) continue;
        CommitSetting(model, firmware, record, password);
        record->changed = 0;
    }
    return true;
}

bool SetSystemDefaults(FirmwareCalls& firmware, const char* password) {
    bool fits = false;
    SecretBytes secret = FirmwarePassword(password, &fits);
    uint16_t length = static_cast<uint16_t>(secret.Length());
    bool locked = firmware.SetupPasswordSet();
    if (locked && (!fits || !firmware.ChangeLockState(secret.text(), length, false))) return false;
    bool restored;
    if (DefaultsCall(firmware, true, 0)) {
        restored = DefaultsCall(firmware, true, 1);
    } else {
        DefaultsCall(firmware, false, 0);
        restored = DefaultsCall(firmware, false, 1);
    }
    if (locked) firmware.ChangeLockState(secret.text(), length, true);
    return restored;
}

}  // namespace zmrmc
