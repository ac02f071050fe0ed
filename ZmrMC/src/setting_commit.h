// The commit of one setting record (BiosSettingsSetItemInfo): the value a host edited in the record is compared
// with what the firmware holds, written where it differs, read back where its type calls for it, and told in
// the settings model's change report.
//
// Decisions beyond the firmware's own rules:
// - A value that does not fit where the firmware keeps it (a text longer than the object's text, a byte block
//   or list longer than the object, an asset tag longer than the tag packet's 16 characters, a password that
//   does not fit its buffer or packet) is never cut: nothing is written and the commit fails.
// - Integers are written and compared with all 32 bits of the record's value.
// - Enumerations and ordered lists succeed only when the value read back is the one requested; a write the
//   firmware refused or ignored fails the commit (its report tells what the firmware holds).
// - A date is written as a time is.
// - The new password a password record carried is cleared from the record once the commit used it.
#pragma once

#include "firmware_calls.h"
#include "secret_bytes.h"
#include "settings_model.h"

namespace zmrmc {

// The password as a commit and the factory-defaults operation give it to the firmware: the scan codes of a
// tagged password ("<kbd/>...", "<en-US/>..."), else the text itself; null is the empty password. False in
// `fits` for a text of 256 bytes or more (no firmware password is that long; it is never cut).
SecretBytes FirmwarePassword(const char* password, bool* fits);

// Commits `record` under the model's lock. False for a record that is none of the model's, read-only, named
// "ESCD", or whose commit failed (see the firmware's rules by type in setting_commit.cpp).
bool CommitSetting(SettingsModel& model, FirmwareCalls& firmware, SRI* record, const char* password);

}  // namespace zmrmc
