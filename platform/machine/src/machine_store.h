// Files of the machine under the system root: <root>/machine/{profile.json,state.json,flash.bin,lock}.
#pragma once

#include "profile.h"

#include <filesystem>
#include <functional>
#include <string>

namespace qv::machine {

// Writes `data` to a temporary file beside `path` (TemporaryFileOf), flushes it, renames it over `path` and
// flushes the folder, so that `path` holds the old or the new data whenever the writer dies. Called under the
// machine's lock only.
void WriteFileAtomically(const std::filesystem::path& path, const std::string& data);
std::filesystem::path TemporaryFileOf(const std::filesystem::path& path);
// Removes the temporary files of writes that never finished (under the machine's lock).
void RemoveTemporaryFiles(const std::filesystem::path& dir);

// The steps of WriteFileAtomically, for tests that cut a write after each of them.
enum class WriteStep { kOpened, kWritten, kSynced, kClosed, kRenamed, kFolderSynced };
void ObserveWriteStepsForTesting(std::function<void(WriteStep)> observer);
std::string ReadWholeFile(const std::filesystem::path& path);
// Opens (creating when missing) a file of the machine for reading and writing, the owner's only: no other user
// may read the state or take the lock. A file made before that is closed again. -1 with errno on failure.
int OpenPrivate(const std::filesystem::path& path);

// A password as the state keeps it: "<salt>:<SHA-1 digest>" of the scan codes (up to a NUL), "" for none.
std::string StoredPassword(const Bytes& codes);
// Whether `given` (scan codes, up to a NUL) is the stored password; an empty one matches no password.
bool StoredPasswordIs(const std::string& stored, const Bytes& given);

// The state a new machine starts with.
Json InitialState(const Profile& profile);
// The flash part of a new machine: erased bytes with the F segment of the running ROM at its top.
std::string InitialFlash(const Profile& profile, const Json& state);

}  // namespace qv::machine
