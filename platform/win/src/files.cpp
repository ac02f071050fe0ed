// Files and folders of the emulated installation.

#include "qv_device_server.h"
#include "qv_kernel_object.h"
#include "qv_system_root.h"
#include "windows.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cwchar>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

DWORD ErrnoToWin32(int err) {
    switch (err) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENAMETOOLONG: return ERROR_INVALID_NAME;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOSPC:
    case EFBIG: return ERROR_DISK_FULL;
    case EIO: return ERROR_WRITE_FAULT;
    default: return ERROR_GEN_FAILURE;
    }
}

class File final : public qv::win::KernelObject {
public:
    explicit File(int fd) : fd_(fd) {}
    ~File() override { ::close(fd_); }
    int fd() const { return fd_; }

    BOOL Read(void* buffer, DWORD size, DWORD* done) override {
        ssize_t n;
        do n = ::read(fd_, buffer, size);
        while (n < 0 && errno == EINTR);
        if (n < 0) return Fail(done);
        if (done != nullptr) *done = static_cast<DWORD>(n);
        return TRUE;
    }

    BOOL Write(const void* buffer, DWORD size, DWORD* done) override {
        auto data = static_cast<const char*>(buffer);
        DWORD written = 0;
        while (written < size) {
            ssize_t n = ::write(fd_, data + written, size - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (done != nullptr) *done = written;
                SetLastError(n < 0 ? ErrnoToWin32(errno) : ERROR_WRITE_FAULT);
                return FALSE;
            }
            written += static_cast<DWORD>(n);
        }
        if (done != nullptr) *done = written;
        return TRUE;
    }

private:
    static BOOL Fail(DWORD* done) {
        if (done != nullptr) *done = 0;
        SetLastError(ErrnoToWin32(errno));
        return FALSE;
    }
    int fd_;
};

fs::path Host(LPCWSTR name) { return qv::win::HostPath(std::wstring(name)); }

}  // namespace

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD /*share*/, LPSECURITY_ATTRIBUTES /*security*/, DWORD disposition,
                   DWORD /*flags*/, HANDLE /*templateFile*/) {
    if (name == nullptr || *name == L'\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (std::wcsncmp(name, L"\\\\.\\", 4) == 0) return qv::win::OpenDevice(name + 4);  // "\\.\Name"
    int mode = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    int create = 0;
    switch (disposition) {
    case CREATE_NEW: create = O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: create = O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: create = O_CREAT; break;
    case TRUNCATE_EXISTING: create = O_TRUNC; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    // New files are the owner's only, as the root's files are (qv_private_files.h).
    int fd = ::open(Host(name).c_str(), mode | create | O_CLOEXEC, 0600);
    if (fd < 0) {
        SetLastError(ErrnoToWin32(errno));
        return INVALID_HANDLE_VALUE;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return qv::win::RegisterHandle(new File(fd));
}

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE templateFile) {
    auto wide = qv::win::FromAnsi(name);
    if (!wide) return INVALID_HANDLE_VALUE;
    return CreateFileW(wide->c_str(), access, share, security, disposition, flags, templateFile);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED /*overlapped*/) {
    auto* object = qv::win::LookupHandle(file);
    if (object == nullptr) return FALSE;
    if (buffer == nullptr && toRead > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return object->Read(buffer, toRead, read);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED /*overlapped*/) {
    auto* object = qv::win::LookupHandle(file);
    if (object == nullptr) return FALSE;
    if (buffer == nullptr && toWrite > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return object->Write(buffer, toWrite, written);
}

BOOL FlushFileBuffers(HANDLE file) {
    auto* f = qv::win::LookupHandleAs<File>(file);
    if (f == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (::fsync(f->fd()) != 0) {
        SetLastError(ErrnoToWin32(errno));
        return FALSE;
    }
    return TRUE;
}

DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
    auto* f = qv::win::LookupHandleAs<File>(file);
    struct stat st {};
    if (f == nullptr || ::fstat(f->fd(), &st) != 0) {
        SetLastError(f == nullptr ? ERROR_INVALID_HANDLE : ErrnoToWin32(errno));
        return INVALID_FILE_SIZE;
    }
    auto size = static_cast<uint64_t>(st.st_size);
    if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

BOOL DeleteFileW(LPCWSTR name) {
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    fs::path host = Host(name);
    struct stat st {};
    if (::lstat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (::unlink(host.c_str()) != 0) {
        SetLastError(ErrnoToWin32(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL DeleteFileA(LPCSTR name) {
    auto wide = qv::win::FromAnsi(name);
    return wide ? DeleteFileW(wide->c_str()) : FALSE;
}

BOOL CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES /*security*/) {
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (::mkdir(Host(name).c_str(), 0700) != 0) {
        SetLastError(errno == EEXIST   ? ERROR_ALREADY_EXISTS
                     : errno == ENOENT ? ERROR_PATH_NOT_FOUND
                                       : ErrnoToWin32(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL RemoveDirectoryW(LPCWSTR name) {
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (::rmdir(Host(name).c_str()) != 0) {
        SetLastError(ErrnoToWin32(errno));
        return FALSE;
    }
    return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR name) {
    struct stat st {};
    if (name == nullptr || ::stat(Host(name).c_str(), &st) != 0) {
        SetLastError(name == nullptr ? ERROR_INVALID_PARAMETER : ErrnoToWin32(errno));
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0;
    if ((st.st_mode & S_IWUSR) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

BOOL GetFileAttributesExW(LPCWSTR name, GET_FILEEX_INFO_LEVELS level, LPVOID information) {
    if (name == nullptr || level != GetFileExInfoStandard || information == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct stat st {};
    if (::stat(Host(name).c_str(), &st) != 0) {
        SetLastError(ErrnoToWin32(errno));
        return FALSE;
    }
    auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(information);
    *data = WIN32_FILE_ATTRIBUTE_DATA{};
    data->dwFileAttributes = GetFileAttributesW(name);
    // FILETIME: 100 ns ticks since 1601-01-01.
    auto ticks = [](const timespec& t) {
        ULONGLONG v = (static_cast<ULONGLONG>(t.tv_sec) + 11644473600ULL) * 10000000ULL +
                      static_cast<ULONGLONG>(t.tv_nsec) / 100;
        return FILETIME{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
    };
    data->ftCreationTime = ticks(st.st_ctim);
    data->ftLastAccessTime = ticks(st.st_atim);
    data->ftLastWriteTime = ticks(st.st_mtim);
    auto bytes = static_cast<ULONGLONG>(st.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(bytes >> 32);
    data->nFileSizeLow = static_cast<DWORD>(bytes);
    return TRUE;
}

DWORD GetCurrentDirectoryW(DWORD size, LPWSTR buffer) {
    std::error_code ec;
    fs::path current = fs::current_path(ec);
    if (ec) {
        SetLastError(ErrnoToWin32(ec.value()));
        return 0;
    }
    std::wstring wide = qv::win::FromUtf8(current.string());
    if (buffer == nullptr || size <= wide.size()) return static_cast<DWORD>(wide.size() + 1);
    wide.copy(buffer, wide.size());
    buffer[wide.size()] = L'\0';
    return static_cast<DWORD>(wide.size());
}

BOOL SetFileAttributesW(LPCWSTR name, DWORD attributes) {
    struct stat st {};
    if (name == nullptr || ::stat(Host(name).c_str(), &st) != 0) {
        SetLastError(name == nullptr ? ERROR_INVALID_PARAMETER : ErrnoToWin32(errno));
        return FALSE;
    }
    mode_t mode = (attributes & FILE_ATTRIBUTE_READONLY) ? (st.st_mode & ~S_IWUSR) : (st.st_mode | S_IWUSR);
    if (::chmod(Host(name).c_str(), mode & 07777) != 0) {
        SetLastError(ErrnoToWin32(errno));
        return FALSE;
    }
    return TRUE;
}
