// The files of a system root are its owner's only, whatever the process's umask: folders 0700, files 0600 (a
// running installation's state, its locks and the firmware's passwords are no other user's business). Every
// layer that keeps state under the root creates its folders and files through these.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

namespace qv::win {

// Creates `folder` and the missing folders above it with mode 0700. Existing folders are left as they are.
std::error_code CreatePrivateFolders(const std::filesystem::path& folder);

// Creates `file` empty with mode 0600 when it does not exist yet, for files that other code then opens (a
// database SQLite opens, whose journals take the database file's mode).
std::error_code CreatePrivateFile(const std::filesystem::path& file);

// Replaces `file` with `data` (mode 0600) through a temporary file beside it and a rename, so readers see the
// old or the new contents, never a part.
std::error_code ReplacePrivateFile(const std::filesystem::path& file, const std::string& data);

// Takes group and other permissions away from `path` when this process's user owns it (a folder or file made
// before the root's files were private).
void MakePrivate(const std::filesystem::path& path);

}  // namespace qv::win
