// Folders and files of the system root that only its owner can use.

#include "qv_private_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace fs = std::filesystem;

namespace qv::win {
namespace {

std::error_code LastErrno() { return {errno, std::generic_category()}; }

constexpr mode_t kPassage = 0711;

// Writes `data` to a temporary file beside `file` with `mode` (whatever the umask) and renames it over `file`.
std::error_code ReplaceFile(const fs::path& file, const std::string& data, mode_t mode) {
    fs::path temp = file;
    temp += "." + std::to_string(::getpid()) + ".tmp";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return LastErrno();
    for (size_t done = 0; done < data.size();) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            std::error_code failed = n < 0 ? LastErrno() : std::make_error_code(std::errc::io_error);
            ::close(fd);
            ::unlink(temp.c_str());
            return failed;
        }
        done += static_cast<size_t>(n);
    }
    if ((mode != 0600 && ::fchmod(fd, mode) != 0) || ::close(fd) != 0 || ::rename(temp.c_str(), file.c_str()) != 0) {
        std::error_code failed = LastErrno();
        ::unlink(temp.c_str());
        return failed;
    }
    return {};
}

}  // namespace

std::error_code CreatePrivateFolders(const fs::path& folder) {
    std::error_code ec;
    if (folder.empty() || fs::is_directory(folder, ec)) return {};
    if (folder.has_parent_path() && folder.parent_path() != folder)
        if (std::error_code above = CreatePrivateFolders(folder.parent_path())) return above;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return LastErrno();
    return {};
}

std::error_code CreatePrivateFile(const fs::path& file) {
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return errno == EEXIST ? std::error_code() : LastErrno();
    ::close(fd);
    return {};
}

std::error_code ReplacePrivateFile(const fs::path& file, const std::string& data) {
    return ReplaceFile(file, data, 0600);
}

std::error_code ReplaceReadableFile(const fs::path& file, const std::string& data) {
    return ReplaceFile(file, data, 0644);
}

std::error_code CreatePassageFolders(const fs::path& folder) {
    std::error_code ec;
    if (folder.empty()) return {};
    if (!fs::is_directory(folder, ec)) {
        // Only the folders made here become passages; the folders above that exist already stay as they are.
        if (folder.has_parent_path() && folder.parent_path() != folder && !fs::is_directory(folder.parent_path(), ec))
            if (std::error_code above = CreatePassageFolders(folder.parent_path())) return above;
        if (::mkdir(folder.c_str(), kPassage) != 0 && errno != EEXIST) return LastErrno();
    }
    MakePassage(folder);  // the umask may have cut the mode mkdir was given
    return {};
}

void MakePassage(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 07777) != kPassage)
        ::chmod(path.c_str(), kPassage);
}

void MakePrivate(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0)
        ::chmod(path.c_str(), st.st_mode & 07700);
}

}  // namespace qv::win
