// What writing one setting changes: the comparison a commit makes between what the firmware holds and what
// is asked for, as zmrmc shows it.
#pragma once

#include "setting_view.h"

#include <optional>
#include <string>

struct Change {
    std::string setting, old_value, new_value;
};

// The change from `before` to `after` as a commit would see it; nothing when a commit would write nothing
// (enumerations without a selection, texts equal but for blanks around them, byte blocks).
std::optional<Change> ChangeOf(const SettingView& before, const SettingView& after);
