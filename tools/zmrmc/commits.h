// Writing settings: the records a command changed in the library are committed one at a time
// (BiosSettingsSetItemInfo), then the settings are read again and each is compared with what was asked for.
#pragma once

#include "session.h"
#include "setting_change.h"
#include "setting_view.h"

#include <nlohmann/json.hpp>

#include <map>
#include <string>
#include <vector>

// One setting a command asked to write, and what became of it.
struct CommitOutcome {
    SettingView before;     // what the firmware held
    SettingView requested;  // what was asked for
    SettingView after;      // what the firmware holds after the write
    bool committed = false;
    bool took = false;   // the firmware holds what was asked for
    std::string reason;  // why not, when it did not
};

// Throws CommandError (kExitPassword) when a setup password is set and the session's does not unlock the
// firmware, or none was given: writes would fail one by one.
void RequireSetupPassword(Session& session);

// Commits the records at `indices` (positions in the library's list, edited in place by the caller; `before`
// holds the views read before the edit, by position), reads the settings again and compares. What the
// library writes on standard output while committing (its enumeration reports) is caught, not shown.
std::vector<CommitOutcome> CommitSettings(Session& session, const std::vector<int>& indices,
                                          const std::map<int, SettingView>& before);

// The outcomes as zmrmc reports them: changes as a table (or JSON), settings that did not take their value
// on standard error. The exit code: kExitOk, or kExitNotTaken when any did not take it.
int ReportOutcomes(const std::vector<CommitOutcome>& outcomes, bool json, nlohmann::json* extra = nullptr);
