// The files of a system root are its owner's only, whatever the process's umask: folders 0700, files 0600 (a
// running installation's state, its locks and the firmware's passwords are no other user's business). Every
// layer that keeps state under the root creates its folders and files through these.
//
// The one way in for other local users is the instrumentation service, which every local user may connect
// to (what each may do there is the service's decision per call): the folders on the way to its announcement
// and its socket are passages (0711: others pass through but cannot list them or create, remove or replace
// anything in them), its announcement is readable by all (0644) and its socket connectable by all.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

namespace qv::win {

// Creates `folder` and the missing folders above it with mode 0700. Existing folders are left as they are.
std::error_code CreatePrivateFolders(const std::filesystem::path& folder);

// Creates `folder` (missing folders above it as passages too) as a passage, mode 0711; an existing one of this
// process's user gets exactly that mode (opened from 0700, or closed from a mode that let others list or write).
std::error_code CreatePassageFolders(const std::filesystem::path& folder);

// Gives `path` mode 0711 when this process's user owns it and it has another mode.
void MakePassage(const std::filesystem::path& path);

// Creates `file` empty with mode 0600 when it does not exist yet, for files that other code then opens (a
// database SQLite opens, whose journals take the database file's mode).
std::error_code CreatePrivateFile(const std::filesystem::path& file);

// Replaces `file` with `data` (mode 0600) through a temporary file beside it and a rename, so readers see the
// old or the new contents, never a part.
std::error_code ReplacePrivateFile(const std::filesystem::path& file, const std::string& data);

// The same for a file every user may read (mode 0644), in a folder only its owner can write.
std::error_code ReplaceReadableFile(const std::filesystem::path& file, const std::string& data);

// Takes group and other permissions away from `path` when this process's user owns it (a folder or file made
// before the root's files were private).
void MakePrivate(const std::filesystem::path& path);

}  // namespace qv::win
