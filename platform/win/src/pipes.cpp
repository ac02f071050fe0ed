// Anonymous pipes and the duplication of their handles.

#include "pipe_end.h"
#include "windows.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace qv::win {

PipeEnd::~PipeEnd() { ::close(fd_); }

BOOL PipeEnd::Read(void* buffer, DWORD size, DWORD* done) {
    if (done != nullptr) *done = 0;
    ssize_t n;
    do {
        n = ::read(fd_, buffer, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        SetLastError(errno == EBADF ? ERROR_INVALID_HANDLE : ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    if (n == 0 && size > 0) {
        SetLastError(ERROR_BROKEN_PIPE);  // every writer has gone and nothing is left
        return FALSE;
    }
    if (done != nullptr) *done = static_cast<DWORD>(n);
    return TRUE;
}

BOOL PipeEnd::Write(const void* buffer, DWORD size, DWORD* done) {
    if (done != nullptr) *done = 0;
    // A pipe without readers raises SIGPIPE: keep it from this thread and take it back if it came.
    sigset_t pipe_signal, previous;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
    const char* at = static_cast<const char*>(buffer);
    DWORD written = 0;
    int error = 0;
    while (written < size) {
        ssize_t n = ::write(fd_, at + written, size - written);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = errno;
            break;
        }
        written += static_cast<DWORD>(n);
    }
    if (error == EPIPE) {
        timespec none{0, 0};
        sigtimedwait(&pipe_signal, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (done != nullptr) *done = written;
    if (error != 0) {
        SetLastError(error == EPIPE ? ERROR_NO_DATA : ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    return TRUE;
}

}  // namespace qv::win

BOOL CreatePipe(PHANDLE readEnd, PHANDLE writeEnd, LPSECURITY_ATTRIBUTES security, DWORD) {
    if (readEnd == nullptr || writeEnd == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    bool inheritable = security != nullptr && security->bInheritHandle;
    *readEnd = qv::win::RegisterHandle(new qv::win::PipeEnd(fds[0], inheritable));
    *writeEnd = qv::win::RegisterHandle(new qv::win::PipeEnd(fds[1], inheritable));
    return TRUE;
}

BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, LPHANDLE target, DWORD, BOOL inherit,
                     DWORD options) {
    BOOL ok = FALSE;
    if (sourceProcess != GetCurrentProcess() || targetProcess != GetCurrentProcess()) {
        SetLastError(ERROR_INVALID_HANDLE);
    } else if (target == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
    } else if (qv::win::LookupHandle(source) == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
    } else if (auto* pipe = qv::win::LookupHandleAs<qv::win::PipeEnd>(source); pipe == nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
    } else {
        int copy = ::fcntl(pipe->fd(), F_DUPFD_CLOEXEC, 0);
        if (copy < 0) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        } else {
            *target = qv::win::RegisterHandle(new qv::win::PipeEnd(copy, inherit != FALSE));
            ok = TRUE;
        }
    }
    if ((options & DUPLICATE_CLOSE_SOURCE) != 0 && sourceProcess == GetCurrentProcess()) {
        DWORD error = GetLastError();
        CloseHandle(source);
        if (!ok) SetLastError(error);
    }
    return ok;
}
