// Child processes: finding the program, splitting its command line, starting it with its standard handles.

#include "pipe_end.h"
#include "qv_system_root.h"
#include "windows.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Shared by the process handle and the thread that waits for the child, so either may go first.
struct ChildState {
    std::mutex mutex;
    bool ended = false;
    DWORD exit_code = STILL_ACTIVE;
};

class ChildProcess final : public qv::win::KernelObject {
public:
    explicit ChildProcess(std::shared_ptr<ChildState> state) : state_(std::move(state)) {}
    std::shared_ptr<ChildState> state_;
};

// The handle of the child's main thread: it only has to exist and be closed.
class ChildThread final : public qv::win::KernelObject {};

// The program word and the rest of the line.
void SplitProgram(const std::wstring& line, std::wstring* program, std::wstring* rest) {
    size_t at = line.find_first_not_of(L" \t");
    if (at == std::wstring::npos) return;
    size_t end;
    if (line[at] == L'"') {
        end = line.find(L'"', at + 1);
        *program = line.substr(at + 1, end == std::wstring::npos ? std::wstring::npos : end - at - 1);
        end = end == std::wstring::npos ? line.size() : end + 1;
    } else {
        end = line.find_first_of(L" \t", at);
        if (end == std::wstring::npos) end = line.size();
        *program = line.substr(at, end - at);
    }
    *rest = line.substr(end);
}

// CommandLineToArgvW's rules for the words after the program.
std::vector<std::wstring> SplitArguments(const std::wstring& text) {
    std::vector<std::wstring> words;
    std::wstring word;
    bool in_word = false, quoted = false;
    for (size_t i = 0; i < text.size();) {
        wchar_t c = text[i];
        if ((c == L' ' || c == L'\t') && !quoted) {
            if (in_word) words.push_back(word);
            word.clear();
            in_word = false;
            ++i;
            continue;
        }
        in_word = true;
        if (c == L'\\') {
            size_t count = 0;
            while (i < text.size() && text[i] == L'\\') ++count, ++i;
            if (i < text.size() && text[i] == L'"') {
                word.append(count / 2, L'\\');
                if (count % 2 == 1) {
                    word += L'"';
                    ++i;
                }
            } else {
                word.append(count, L'\\');
            }
        } else if (c == L'"') {
            if (quoted && i + 1 < text.size() && text[i + 1] == L'"') {
                word += L'"';  // "" inside quotes is one literal quote
                i += 2;
                continue;
            }
            quoted = !quoted;
            ++i;
        } else {
            word += c;
            ++i;
        }
    }
    if (in_word) words.push_back(word);
    return words;
}

bool IsProgramFile(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The host path of the program, or empty when it is not found.
fs::path FindProgram(const std::wstring& name) {
    std::vector<std::wstring> names{name};
    std::wstring file = name.substr(name.find_last_of(L"\\/") == std::wstring::npos ? 0
                                                                                    : name.find_last_of(L"\\/") + 1);
    if (file.find(L'.') == std::wstring::npos) names.push_back(name + L".exe");
    bool has_folder = name.find_first_of(L"\\/:") != std::wstring::npos;
    std::vector<fs::path> folders;
    if (has_folder) {
        folders.emplace_back();
    } else {
        wchar_t buffer[4 * MAX_PATH] = {};
        if (GetModuleFileNameW(nullptr, buffer, 4 * MAX_PATH) > 0)
            folders.push_back(qv::win::HostPath(buffer).parent_path());
        std::error_code ec;
        folders.push_back(fs::current_path(ec));
        if (GetSystemDirectoryW(buffer, 4 * MAX_PATH) > 0) folders.push_back(qv::win::HostPath(buffer));
        if (GetWindowsDirectoryW(buffer, 4 * MAX_PATH) > 0) folders.push_back(qv::win::HostPath(buffer));
        if (const char* path = std::getenv("PATH")) {
            std::string list = path;
            for (size_t start = 0; start <= list.size();) {
                size_t end = list.find(':', start);
                if (end == std::string::npos) end = list.size();
                if (end > start) folders.emplace_back(list.substr(start, end - start));
                start = end + 1;
            }
        }
    }
    for (const fs::path& folder : folders) {
        for (const std::wstring& n : names) {
            fs::path candidate = folder.empty() ? qv::win::HostPath(n) : folder / qv::win::ToUtf8(n);
            if (IsProgramFile(candidate)) return candidate;
        }
    }
    return {};
}

// The descriptor a standard handle gives the child, or -1 for /dev/null.
int StandardDescriptor(HANDLE handle, bool inherit) {
    if (!inherit || handle == nullptr || handle == INVALID_HANDLE_VALUE) return -1;
    auto* pipe = qv::win::LookupHandleAs<qv::win::PipeEnd>(handle);
    return pipe != nullptr && pipe->inheritable() ? pipe->fd() : -1;
}

DWORD ErrorOfExec(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENOEXEC: return ERROR_BAD_EXE_FORMAT;
    default: return ERROR_NOT_ENOUGH_MEMORY;
    }
}

}  // namespace

BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                    BOOL inheritHandles, DWORD creationFlags, LPVOID environment, LPCWSTR currentDirectory,
                    LPSTARTUPINFOW startupInfo, LPPROCESS_INFORMATION information) {
    if (applicationName != nullptr || environment != nullptr || currentDirectory != nullptr || commandLine == nullptr ||
        startupInfo == nullptr || information == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::wstring program_name, rest;
    SplitProgram(commandLine, &program_name, &rest);
    if (program_name.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    fs::path program = FindProgram(program_name);
    if (program.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }

    // Everything the child needs is prepared before fork: the child calls only async-signal-safe functions.
    std::vector<std::string> args{program.string()};
    for (const std::wstring& word : SplitArguments(rest)) args.push_back(qv::win::ToUtf8(word));
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "QV_SYSTEM_ROOT=", 15) != 0) env.emplace_back(*e);
    env.push_back("QV_SYSTEM_ROOT=" + qv::win::SystemRoot().string());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    int std_fds[3] = {0, 1, 2};
    bool use_handles = (startupInfo->dwFlags & STARTF_USESTDHANDLES) != 0;
    if (use_handles) {
        HANDLE handles[3] = {startupInfo->hStdInput, startupInfo->hStdOutput, startupInfo->hStdError};
        for (int i = 0; i < 3; ++i) std_fds[i] = StandardDescriptor(handles[i], inheritHandles != FALSE);
    } else if ((creationFlags & CREATE_NEW_CONSOLE) != 0) {
        std_fds[0] = std_fds[1] = std_fds[2] = -1;
    }
    int null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    for (int& fd : std_fds)
        if (fd < 0) fd = null_fd;
    int report[2];
    if (null_fd < 0 || ::pipe2(report, O_CLOEXEC) != 0) {
        if (null_fd >= 0) ::close(null_fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }

    pid_t child = ::fork();
    if (child == 0) {
        // Move the sources out of the way first, so that no dup2 overwrites a source still needed.
        int moved[3];
        for (int i = 0; i < 3; ++i) moved[i] = ::fcntl(std_fds[i], F_DUPFD_CLOEXEC, 10);
        for (int i = 0; i < 3; ++i) ::dup2(moved[i], i);
        ::execve(argv[0], argv.data(), envp.data());
        int error = errno;
        (void)!::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    ::close(null_fd);
    if (child < 0) {
        ::close(report[0]);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    int exec_error = 0;
    ssize_t n;
    do {
        n = ::read(report[0], &exec_error, sizeof exec_error);  // closes on a successful exec
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);

    auto state = std::make_shared<ChildState>();
    std::thread([state, child] {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        std::lock_guard lock(state->mutex);
        state->ended = true;
        state->exit_code = WIFEXITED(status)     ? static_cast<DWORD>(WEXITSTATUS(status))
                           : WIFSIGNALED(status) ? static_cast<DWORD>(128 + WTERMSIG(status))
                                                 : 1;
    }).detach();
    if (n == static_cast<ssize_t>(sizeof exec_error)) {
        SetLastError(ErrorOfExec(exec_error));
        return FALSE;
    }
    information->hProcess = qv::win::RegisterHandle(new ChildProcess(state));
    information->hThread = qv::win::RegisterHandle(new ChildThread());
    information->dwProcessId = static_cast<DWORD>(child);
    information->dwThreadId = static_cast<DWORD>(child);
    return TRUE;
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
    auto* p = qv::win::LookupHandleAs<ChildProcess>(process);
    if (p == nullptr || exitCode == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(p->state_->mutex);
    *exitCode = p->state_->exit_code;
    return TRUE;
}
