// Activation of local servers: find the running server of a class, or start it and wait until it announces
// its class object. A lock file per class makes racing clients start one server between them.

#include "connection.h"
#include "qv_private_files.h"
#include "qv_system_root.h"
#include "runtime.h"
#include "windows.h"
#include "winreg.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <linux/close_range.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace qv::com {
namespace {

using Clock = std::chrono::steady_clock;

// The running server's class object; S_FALSE when no server is announced or it does not answer.
HRESULT TryRunning(REFCLSID clsid, REFIID iid, bool create, void** object, long* pid_out) {
    std::ifstream in(RunningFile(clsid));
    long pid = 0;
    std::string address;
    if (!(in >> pid >> address)) return S_FALSE;
    if (pid_out != nullptr) *pid_out = pid;
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto connection = ConnectTo(address);
        if (connection == nullptr) return S_FALSE;
        HRESULT hr = connection->Activate(clsid, iid, create, object);
        if (hr == RPC_E_DISCONNECTED) continue;  // a cached connection that was just closing: once more
        if (hr == CO_E_SERVER_STOPPING || hr == REGDB_E_CLASSNOTREG) return S_FALSE;
        return hr;
    }
    return S_FALSE;
}

// The LocalServer32 command line of the class, split into words ("quoted words" keep their blanks).
bool ServerCommand(REFCLSID clsid, std::vector<std::string>* words) {
    std::wstring path = L"CLSID\\" + GuidText(clsid) + L"\\LocalServer32";
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD type = 0, size = 0;
    std::wstring text;
    if (RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
        text.resize(size / sizeof(wchar_t) + 1);
        RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
        text.resize(size / sizeof(wchar_t));
    }
    RegCloseKey(key);
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    std::wstring word;
    bool quoted = false, any = false;
    for (wchar_t c : text + L" ") {
        if (c == L'"') {
            quoted = !quoted;
            any = true;
        } else if ((c == L' ' || c == L'\t') && !quoted) {
            if (any) words->push_back(words->empty() ? win::HostPath(word).string() : win::ToUtf8(word));
            word.clear();
            any = false;
        } else {
            word += c;
            any = true;
        }
    }
    return !words->empty();
}

// Starts the server detached from this process (it outlives its client). Returns its pid, or 0.
pid_t Launch(std::vector<std::string> words, Clock::time_point deadline) {
    words.push_back("-Embedding");
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return 0;
    // The server inherits nothing of the client: standard input, output and error are the null device, and
    // every other descriptor closes at exec. A pipe of the client's (a caller waiting for the client's output
    // to end) held open by a server that outlives it would keep that caller waiting for the server's exit.
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        if (null >= 0) close(null);
        return 0;
    }
    if (child == 0) {
        pid_t server = fork();
        if (server == 0) {
            setsid();
            if (null >= 0) {
                dup2(null, 0);
                dup2(null, 1);
                dup2(null, 2);
            }
            close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
            execv(argv[0], argv.data());
            char failed = 1;
            (void)!write(report[1], &failed, 1);
            _exit(127);
        }
        (void)!write(report[1], &server, sizeof(server));
        _exit(0);
    }
    close(report[1]);
    if (null >= 0) close(null);
    waitpid(child, nullptr, 0);
    pid_t server = 0;
    char failed = 0;
    bool ok = read(report[0], &server, sizeof(server)) == sizeof(server) && server > 0;
    if (ok) {
        // The pipe closes on a successful exec; one byte arrives when exec failed.
        pollfd p{report[0], POLLIN, 0};
        int wait_ms = static_cast<int>(std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
        if (poll(&p, 1, wait_ms) <= 0 || read(report[0], &failed, 1) != 0) ok = false;
    }
    close(report[0]);
    return ok ? server : 0;
}

// Running: a server that ended is a zombie until whoever adopted it reaps it, which may take a while.
bool Alive(pid_t pid) {
    if (kill(pid, 0) != 0 && errno != EPERM) return false;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) return false;
    auto close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'Z';
}

// Holds the class's launch lock (flock) while it lives.
class LaunchLock {
public:
    LaunchLock(REFCLSID clsid, Clock::time_point deadline) {
        auto folder = win::SystemRoot() / "com" / "launch";
        win::CreatePrivateFolders(folder);
        fd_ = open((folder / (win::ToUtf8(GuidText(clsid)) + ".lock")).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) return;
        while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (Clock::now() >= deadline) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        held_ = true;
    }
    ~LaunchLock() {
        if (fd_ >= 0) close(fd_);  // closing releases the lock
    }
    LaunchLock(const LaunchLock&) = delete;
    LaunchLock& operator=(const LaunchLock&) = delete;
    bool held() const { return held_; }

private:
    int fd_ = -1;
    bool held_ = false;
};

}  // namespace

HRESULT ActivateLocalServer(REFCLSID clsid, REFIID iid, bool create, void** object) {
    auto deadline = Clock::now() + ActivationTimeout();
    HRESULT hr = TryRunning(clsid, iid, create, object, nullptr);
    if (hr != S_FALSE) return hr;

    LaunchLock lock(clsid, deadline);
    if (!lock.held()) return CO_E_SERVER_EXEC_FAILURE;
    hr = TryRunning(clsid, iid, create, object, nullptr);
    if (hr != S_FALSE) return hr;

    std::vector<std::string> words;
    if (!ServerCommand(clsid, &words)) return REGDB_E_CLASSNOTREG;
    pid_t server = Launch(words, deadline);
    if (server == 0) return CO_E_SERVER_EXEC_FAILURE;
    while (Clock::now() < deadline) {
        long announced = 0;
        hr = TryRunning(clsid, iid, create, object, &announced);
        if (hr != S_FALSE) return hr;
        if (!Alive(server)) return CO_E_SERVER_EXEC_FAILURE;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return CO_E_SERVER_EXEC_FAILURE;
}

}  // namespace qv::com
