// The emulated installation that platform layers keep their state in.
//
// QV_SYSTEM_ROOT names the folder; without it a per-user default is used ($XDG_STATE_HOME/qv/root, or
// ~/.local/state/qv/root). The root is created on first use with the folders an installation has:
//   drive_c/WINDOWS/TEMP              what GetTempPathW returns (C:\WINDOWS\TEMP\)
//   drive_c/WINDOWS/system32          what GetSystemDirectoryW returns (C:\WINDOWS\system32)
//   drive_c/WINDOWS/system32/Drivers  where kernel drivers are installed
// Later layers add their own state (registry, repository, machine) beside these.
#pragma once

#include "qv_text_conversion.h"
#include "windef.h"

#include <filesystem>
#include <string>

namespace qv::win {

// The root folder, created with its standard folders on first use in this process.
const std::filesystem::path& SystemRoot();

// Forgets the cached root so that the next call reads QV_SYSTEM_ROOT again (tests switch roots).
void ResetSystemRootForTesting();

// Maps a Windows or host path to the host path it names: "X:\a\b" becomes <root>/drive_x/a/b, every "\" is
// a folder separator. Drive letters are case-insensitive; other components are kept as written. A narrow path
// is ANSI; one that cannot be converted gives an empty path.
std::filesystem::path HostPath(const std::wstring& path);
std::filesystem::path HostPath(const std::string& path);

}  // namespace qv::win
