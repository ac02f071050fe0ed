// Debugger output: one line per call, appended to the file QV_DEBUG_OUTPUT names.

#include "windows.h"
#include "qv_system_root.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void WriteLine(std::string text) {
    const char* target = std::getenv("QV_DEBUG_OUTPUT");
    if (target == nullptr || *target == '\0') return;
    if (text.empty() || text.back() != '\n') text.push_back('\n');
    bool to_stderr = std::strcmp(target, "-") == 0 || std::strcmp(target, "stderr") == 0;
    // Opened per call with O_APPEND so that lines of several processes never interleave within a line.
    int fd = to_stderr ? STDERR_FILENO : ::open(target, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, data, left);
        if (n <= 0) break;
        data += n;
        left -= static_cast<size_t>(n);
    }
    if (!to_stderr) ::close(fd);
}

}  // namespace

void OutputDebugStringA(LPCSTR text) {
    if (text == nullptr) return;
    // Narrow text is in the ANSI code page; the output file is UTF-8.
    if (auto wide = qv::win::FromAnsi(text)) WriteLine(qv::win::ToUtf8(*wide));
}

void OutputDebugStringW(LPCWSTR text) {
    if (text == nullptr) return;
    WriteLine(qv::win::ToUtf8(text));
}
