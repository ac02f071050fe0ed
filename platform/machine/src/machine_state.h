// The machine's state file (<root>/machine/state.json): what the firmware changes (settings, strings, passwords,
// lock state, boot order, fault counters). Its texts are UTF-8 in the file and Windows-1252 bytes in memory, as
// the firmware keeps them.
#pragma once

#include "json_fields.h"
#include "profile.h"

#include <string>

namespace qv::machine {

// Parses a state text and checks every member the firmware reads against the profile: its kind, its range and
// its size (a value the firmware could not answer with is refused, never cut). Throws FieldFault.
Json ParseState(const std::string& text, const Profile& profile);

// The text of a state, for the file.
std::string StateText(const Json& state);

}  // namespace qv::machine
