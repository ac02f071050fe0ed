// Files of the machine under the system root: <root>/machine/{profile.json,state.json,flash.bin,lock,generation}.
#pragma once

#include "profile.h"

#include <filesystem>
#include <string>

namespace qv::machine {

// Writes `data` to a temporary file beside `path`, flushes it and renames it over `path`.
void WriteFileAtomically(const std::filesystem::path& path, const std::string& data);
std::string ReadWholeFile(const std::filesystem::path& path);

// A password as the state keeps it: "<salt>:<SHA-1 digest>" of the scan codes (up to a NUL), "" for none.
std::string StoredPassword(const Bytes& codes);
// Whether `given` (scan codes, up to a NUL) is the stored password; an empty one matches no password.
bool StoredPasswordIs(const std::string& stored, const Bytes& given);

// The state a new machine starts with.
Json InitialState(const Profile& profile);
// The flash part of a new machine: erased bytes with the F segment of the running ROM at its top.
std::string InitialFlash(const Profile& profile, const Json& state);

}  // namespace qv::machine
