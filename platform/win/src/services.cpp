// The service control manager for kernel-driver services. Records live in <root>/services/<name>.service (key=value
// lines); every
// operation holds an flock on <root>/services/lock so that several processes see one consistent database.

#include "qv_kernel_object.h"
#include "qv_private_files.h"
#include "qv_system_root.h"
#include "windows.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include <cstring>

extern char** environ;

namespace fs = std::filesystem;

namespace {

// A service record: key=value lines.
struct Record {
    std::map<std::string, std::string> values;
    std::string Get(const std::string& key) const {
        auto it = values.find(key);
        return it == values.end() ? std::string() : it->second;
    }
    long Number(const std::string& key) const { return std::strtol(Get(key).c_str(), nullptr, 10); }
};

fs::path ServicesDir() {
    fs::path dir = qv::win::SystemRoot() / "services";
    qv::win::CreatePrivateFolders(dir);
    return dir;
}

class DatabaseLock {
public:
    DatabaseLock() {
        fd_ = ::open((ServicesDir() / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0)
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
    }
    ~DatabaseLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;

private:
    int fd_ = -1;
};

bool ValidName(const std::string& name) {
    if (name.empty() || name.size() > 256) return false;
    for (char c : name)
        if (c == '/' || c == '\\' || c == '\0' || c == '.') return false;
    return true;
}

fs::path RecordPath(const std::string& name) { return ServicesDir() / (name + ".service"); }

bool ReadRecord(const std::string& name, Record* record) {
    std::ifstream in(RecordPath(name));
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        auto eq = line.find('=');
        if (eq != std::string::npos) record->values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return true;
}

bool WriteRecord(const std::string& name, const Record& record) {
    std::string text;
    for (const auto& [k, v] : record.values) text += k + '=' + v + '\n';
    return !qv::win::ReplacePrivateFile(RecordPath(name), text);
}

// Start time of a process (field 22 of /proc/<pid>/stat), 0 when it does not exist or is a zombie.
unsigned long long ProcessStart(pid_t pid) {
    if (pid <= 0) return 0;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) return 0;
    auto close = stat.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream rest(stat.substr(close + 2));
    std::string field, state;
    rest >> state;
    if (state == "Z" || state == "X") return 0;
    for (int i = 4; i <= 22; ++i) rest >> field;  // field 22: start time
    return std::strtoull(field.c_str(), nullptr, 10);
}

bool Alive(const Record& r) {
    pid_t pid = static_cast<pid_t>(r.Number("pid"));
    return pid > 0 && ProcessStart(pid) == std::strtoull(r.Get("start").c_str(), nullptr, 10);
}

// Handle objects: the manager and services.
class ManagerHandle final : public qv::win::KernelObject {};
class ServiceHandle final : public qv::win::KernelObject {
public:
    explicit ServiceHandle(std::string serviceName) : name(std::move(serviceName)) {}
    std::string name;
};

std::string Narrow(LPCWSTR text) { return text == nullptr ? std::string() : qv::win::ToUtf8(text); }
// A narrow argument that may be null, in wide form for the call: false when a given text cannot be converted
// (the last error says why).
bool Widen(LPCSTR text, std::optional<std::wstring>* wide) {
    if (text != nullptr) *wide = qv::win::FromAnsi(text);
    return text == nullptr || wide->has_value();
}
LPCWSTR Pointer(const std::optional<std::wstring>& wide) { return wide ? wide->c_str() : nullptr; }

ServiceHandle* Service(SC_HANDLE handle) {
    auto* s = qv::win::LookupHandleAs<ServiceHandle>(reinterpret_cast<HANDLE>(handle));
    if (s == nullptr) SetLastError(ERROR_INVALID_HANDLE);
    return s;
}

bool IsManager(SC_HANDLE handle) {
    if (qv::win::LookupHandleAs<ManagerHandle>(reinterpret_cast<HANDLE>(handle)) != nullptr) return true;
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
}

void Fill(const Record& r, bool running, LPSERVICE_STATUS status) {
    if (status == nullptr) return;
    *status = {};
    status->dwServiceType = static_cast<DWORD>(r.Number("type"));
    status->dwCurrentState = running ? SERVICE_RUNNING : SERVICE_STOPPED;
    status->dwControlsAccepted = running ? SERVICE_ACCEPT_STOP : 0;
}

// Forgets a process that ended and removes a record that waited for its stop to be deleted.
bool Refresh(const std::string& name, Record& r) {
    bool running = Alive(r);
    if (!running && !r.Get("pid").empty()) {
        r.values.erase("pid");
        r.values.erase("start");
        if (r.Get("delete") == "1") {
            std::error_code ec;
            fs::remove(RecordPath(name), ec);
        } else {
            WriteRecord(name, r);
        }
    }
    return running;
}

// Runs the binary as a detached process; returns its pid once it reported running, 0 otherwise.
pid_t Launch(const fs::path& binary, DWORD* error) {
    int ready[2];
    int report[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(report, O_CLOEXEC) != 0) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return 0;
    }
    // Everything the child needs is prepared before fork: the child only calls async-signal-safe functions.
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "QV_SYSTEM_ROOT=", 15) != 0 && std::strncmp(*e, "QV_SERVICE_READY_FD=", 20) != 0)
            env.emplace_back(*e);
    env.push_back("QV_SYSTEM_ROOT=" + qv::win::SystemRoot().string());
    env.push_back("QV_SERVICE_READY_FD=3");
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string path = binary.string();
    char* argv[] = {path.data(), nullptr};
    pid_t child = ::fork();
    if (child < 0) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return 0;
    }
    if (child == 0) {
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild != 0) {
            if (grandchild > 0) (void)!::write(report[1], &grandchild, sizeof grandchild);
            ::_exit(0);
        }
        int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, 0);
        ::dup2(devnull, 1);
        ::dup2(devnull, 2);
        if (ready[1] == 3)
            ::fcntl(3, F_SETFD, 0);
        else
            ::dup2(ready[1], 3);  // without close-on-exec: the driver reports through it
        ::execve(path.c_str(), argv, envp.data());
        ::_exit(127);
    }
    ::close(ready[1]);
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    pid_t pid = 0;
    if (::read(report[0], &pid, sizeof pid) != sizeof pid) pid = 0;
    ::close(report[0]);
    char byte = 0;
    pollfd p{ready[0], POLLIN, 0};
    int n = ::poll(&p, 1, 15000);
    bool ok = n == 1 && ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    if (!ok) {
        if (pid > 0) ::kill(pid, SIGKILL);
        *error = n == 0 ? ERROR_SERVICE_REQUEST_TIMEOUT : ERROR_SERVICE_NO_THREAD;
        return 0;
    }
    return pid;
}

}  // namespace

namespace qv::win {
void ReportServiceRunning() {
    const char* fd = std::getenv("QV_SERVICE_READY_FD");
    if (fd == nullptr) return;
    int n = std::atoi(fd);
    char byte = 1;
    (void)!::write(n, &byte, 1);
    ::close(n);
    ::unsetenv("QV_SERVICE_READY_FD");
}
}  // namespace qv::win

SC_HANDLE OpenSCManagerW(LPCWSTR machineName, LPCWSTR, DWORD) {
    if (machineName != nullptr && *machineName != L'\0') {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    ServicesDir();
    return reinterpret_cast<SC_HANDLE>(qv::win::RegisterHandle(new ManagerHandle()));
}

SC_HANDLE OpenSCManagerA(LPCSTR machineName, LPCSTR, DWORD access) {
    std::optional<std::wstring> machine;
    return Widen(machineName, &machine) ? OpenSCManagerW(Pointer(machine), nullptr, access) : nullptr;
}

SC_HANDLE CreateServiceW(SC_HANDLE manager, LPCWSTR name, LPCWSTR displayName, DWORD, DWORD serviceType,
                         DWORD startType, DWORD errorControl, LPCWSTR binaryPath, LPCWSTR, LPDWORD, LPCWSTR, LPCWSTR,
                         LPCWSTR) {
    if (!IsManager(manager)) return nullptr;
    std::string n = Narrow(name);
    std::string binary = Narrow(binaryPath), display = Narrow(displayName);
    if (!ValidName(n) || binary.empty() || binary.find('\n') != std::string::npos ||
        display.find('\n') != std::string::npos) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    DatabaseLock lock;
    Record existing;
    if (ReadRecord(n, &existing)) {
        SetLastError(existing.Get("delete") == "1" ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS);
        return nullptr;
    }
    Record r;
    r.values["name"] = n;
    r.values["display"] = display;
    r.values["type"] = std::to_string(serviceType);
    r.values["start_type"] = std::to_string(startType);
    r.values["error_control"] = std::to_string(errorControl);
    r.values["binary"] = binary;
    if (!WriteRecord(n, r)) {
        SetLastError(ERROR_WRITE_FAULT);
        return nullptr;
    }
    return reinterpret_cast<SC_HANDLE>(qv::win::RegisterHandle(new ServiceHandle(n)));
}

SC_HANDLE CreateServiceA(SC_HANDLE manager, LPCSTR name, LPCSTR displayName, DWORD access, DWORD serviceType,
                         DWORD startType, DWORD errorControl, LPCSTR binaryPath, LPCSTR, LPDWORD, LPCSTR, LPCSTR,
                         LPCSTR) {
    std::optional<std::wstring> n, display, binary;
    if (!Widen(name, &n) || !Widen(displayName, &display) || !Widen(binaryPath, &binary)) return nullptr;
    return CreateServiceW(manager, Pointer(n), Pointer(display), access, serviceType, startType, errorControl,
                          Pointer(binary), nullptr, nullptr, nullptr, nullptr, nullptr);
}

SC_HANDLE OpenServiceW(SC_HANDLE manager, LPCWSTR name, DWORD) {
    if (!IsManager(manager)) return nullptr;
    std::string n = Narrow(name);
    DatabaseLock lock;
    Record r;
    if (!ValidName(n) || !ReadRecord(n, &r)) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    return reinterpret_cast<SC_HANDLE>(qv::win::RegisterHandle(new ServiceHandle(n)));
}

SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access) {
    auto wide = qv::win::FromAnsi(name);
    return wide ? OpenServiceW(manager, wide->c_str(), access) : nullptr;
}

BOOL StartServiceW(SC_HANDLE service, DWORD, LPCWSTR*) {
    ServiceHandle* s = Service(service);
    if (s == nullptr) return FALSE;
    DatabaseLock lock;
    Record r;
    if (!ReadRecord(s->name, &r)) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return FALSE;
    }
    if (Refresh(s->name, r)) {
        SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
        return FALSE;
    }
    if (r.Get("delete") == "1") {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return FALSE;
    }
    if (r.Number("start_type") == SERVICE_DISABLED) {
        SetLastError(ERROR_SERVICE_DISABLED);
        return FALSE;
    }
    fs::path binary = qv::win::HostPath(r.Get("binary"));
    struct stat st {};
    if (::stat(binary.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    ::chmod(binary.c_str(), st.st_mode | S_IXUSR);  // the loader maps the image executable
    DWORD error = 0;
    pid_t pid = Launch(binary, &error);
    if (pid == 0) {
        SetLastError(error);
        return FALSE;
    }
    r.values["pid"] = std::to_string(pid);
    r.values["start"] = std::to_string(ProcessStart(pid));
    WriteRecord(s->name, r);
    return TRUE;
}

BOOL StartServiceA(SC_HANDLE service, DWORD, LPCSTR*) { return StartServiceW(service, 0, nullptr); }

BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
    ServiceHandle* s = Service(service);
    if (s == nullptr) return FALSE;
    if (status == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DatabaseLock lock;
    Record r;
    if (!ReadRecord(s->name, &r)) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return FALSE;
    }
    Fill(r, Refresh(s->name, r), status);
    return TRUE;
}

BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
    ServiceHandle* s = Service(service);
    if (s == nullptr) return FALSE;
    DatabaseLock lock;
    Record r;
    if (!ReadRecord(s->name, &r)) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return FALSE;
    }
    bool running = Refresh(s->name, r);
    if (control == SERVICE_CONTROL_INTERROGATE) {
        Fill(r, running, status);
        return TRUE;
    }
    if (control != SERVICE_CONTROL_STOP) {
        SetLastError(ERROR_INVALID_SERVICE_CONTROL);
        return FALSE;
    }
    if (!running) {
        Fill(r, false, status);
        SetLastError(ERROR_SERVICE_NOT_ACTIVE);
        return FALSE;
    }
    pid_t pid = static_cast<pid_t>(r.Number("pid"));
    ::kill(pid, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Alive(r) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // A driver is not unloaded while its devices are open: one still serving handles ends by itself when the
    // last is closed, and is reported stopping. Any other service is ended.
    bool driver = r.Number("type") == SERVICE_KERNEL_DRIVER;
    if (Alive(r) && driver) {
        Fill(r, true, status);
        if (status != nullptr) status->dwCurrentState = SERVICE_STOP_PENDING;
        return TRUE;
    }
    if (Alive(r)) {
        ::kill(pid, SIGKILL);
        deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (Alive(r) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Refresh(s->name, r);
    Fill(r, false, status);
    return TRUE;
}

BOOL DeleteService(SC_HANDLE service) {
    ServiceHandle* s = Service(service);
    if (s == nullptr) return FALSE;
    DatabaseLock lock;
    Record r;
    if (!ReadRecord(s->name, &r)) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return FALSE;
    }
    if (r.Get("delete") == "1") {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return FALSE;
    }
    if (Refresh(s->name, r)) {
        r.values["delete"] = "1";
        WriteRecord(s->name, r);
    } else {
        std::error_code ec;
        fs::remove(RecordPath(s->name), ec);
    }
    return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE handle) {
    auto* object = qv::win::LookupHandle(reinterpret_cast<HANDLE>(handle));
    if (dynamic_cast<ManagerHandle*>(object) == nullptr && dynamic_cast<ServiceHandle*>(object) == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return CloseHandle(reinterpret_cast<HANDLE>(handle));
}
