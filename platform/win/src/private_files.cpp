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
    if (::close(fd) != 0 || ::rename(temp.c_str(), file.c_str()) != 0) {
        std::error_code failed = LastErrno();
        ::unlink(temp.c_str());
        return failed;
    }
    return {};
}

void MakePrivate(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0)
        ::chmod(path.c_str(), st.st_mode & 07700);
}

}  // namespace qv::win
