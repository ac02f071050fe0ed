// The listening socket of a server process, and client connections to servers.

#include "connection.h"
#include "qv_module_unload.h"
#include "qv_private_files.h"
#include "qv_system_root.h"
#include "runtime.h"
#include "runtime_threads.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <unordered_map>

namespace qv::com {
namespace {

std::mutex endpoint_mutex;
std::string endpoint_address;  // set once listening
std::string endpoint_file;     // socket file to remove at exit
int endpoint_listener = -1;    // while the accept loop runs

// Fills `address` for "/path" or "@abstract"; false when the path does not fit.
bool MakeAddress(const std::string& text, sockaddr_un* address, socklen_t* length) {
    std::memset(address, 0, sizeof(*address));
    address->sun_family = AF_UNIX;
    if (text.empty() || text.size() >= sizeof(address->sun_path)) return false;
    std::memcpy(address->sun_path, text.data(), text.size());
    if (text[0] == '@') address->sun_path[0] = '\0';
    *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + text.size() + (text[0] == '@' ? 0 : 1));
    return true;
}

// Only the server's own user and root may call in, unless the server decides per call (AdmitEveryLocalUser).
bool Allowed(int socket) {
    ucred peer{};
    socklen_t length = sizeof(peer);
    if (getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) return false;
    return peer.uid == 0 || peer.uid == geteuid() || AdmitsEveryLocalUser();
}

// Whether process `pid` has ended: it does not exist, or it is a zombie its parent has not reaped yet (a
// killed server whose parent is the system's first process may stay one for a while).
bool ProcessGone(long pid) {
    if (pid <= 0) return false;
    if (kill(static_cast<pid_t>(pid), 0) != 0) return errno == ESRCH;
    char stat_line[512] = {};
    FILE* in = fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "re");
    if (in == nullptr) return false;
    size_t got = fread(stat_line, 1, sizeof stat_line - 1, in);
    fclose(in);
    const char* close = strrchr(stat_line, ')');
    return got > 0 && close != nullptr && close[1] == ' ' && close[2] == 'Z';
}

// Removes what servers killed before they could clean up left of their own: their sockets ("<pid>.sock") in
// `run` and their announcements ("<pid> <address>") in `running`. Only this user's files, only of processes
// that are gone; a live server's files are never touched.
void SweepDeadServers(const std::filesystem::path& run, const std::filesystem::path& running) {
    namespace fs = std::filesystem;
    auto owned = [](const fs::path& file) {
        struct stat st {};
        return lstat(file.c_str(), &st) == 0 && st.st_uid == geteuid();
    };
    std::error_code ec;
    for (auto it = fs::directory_iterator(run, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const fs::path& file = it->path();
        if (file.extension() != ".sock") continue;
        char* end = nullptr;
        std::string stem = file.stem().string();
        long pid = std::strtol(stem.c_str(), &end, 10);
        if (end != nullptr && *end == '\0' && ProcessGone(pid) && owned(file)) unlink(file.c_str());
    }
    for (auto it = fs::directory_iterator(running, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const fs::path& file = it->path();
        long pid = 0;
        if (FILE* in = fopen(file.c_str(), "re")) {
            if (fscanf(in, "%ld", &pid) != 1) pid = 0;
            fclose(in);
        }
        if (ProcessGone(pid) && owned(file)) unlink(file.c_str());
    }
}

// At exit: this server's socket goes, and what servers killed meanwhile left.
void RemoveSocketFile() {
    if (endpoint_file.empty()) return;
    unlink(endpoint_file.c_str());
    std::filesystem::path run = std::filesystem::path(endpoint_file).parent_path();
    SweepDeadServers(run, run.parent_path() / "running");
}

void AcceptLoop(int listener) {
    for (;;) {
        int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                continue;
            }
            break;  // closed (StopListening) or broken
        }
        if (!Allowed(client)) {
            close(client);
            continue;
        }
        Connection::Start(client, false);
    }
    close(listener);
}

}  // namespace

std::string LocalEndpoint() {
    std::lock_guard lock(endpoint_mutex);
    if (!endpoint_address.empty()) return endpoint_address;
    namespace fs = std::filesystem;
    fs::path folder = win::SystemRoot() / "com" / "run";
    win::CreatePassageFolders(folder.parent_path());
    win::CreatePassageFolders(folder);  // the way to the sockets of servers that admit every user
    SweepDeadServers(folder, folder.parent_path() / "running");
    std::string text = (folder / (std::to_string(getpid()) + ".sock")).string();
    sockaddr_un address{};
    socklen_t length = 0;
    bool in_file = MakeAddress(text, &address, &length);
    if (!in_file) {
        // The root's path is too long for a socket file: an abstract name, guarded by the peer check alone.
        text = "@qv-com-" + std::to_string(getpid()) + "-" + std::to_string(std::hash<std::string>{}(folder.string()));
        MakeAddress(text, &address, &length);
    }
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) return {};
    if (in_file) unlink(text.c_str());
    mode_t old_mask = umask(0077);
    int bound = bind(listener, reinterpret_cast<sockaddr*>(&address), length);
    umask(old_mask);
    if (bound != 0 || listen(listener, 64) != 0) {
        close(listener);
        return {};
    }
    // The socket is its owner's only (the peer check admits root besides), unless this server admits every
    // local user: then everybody may connect and the peer check lets them in.
    if (in_file && AdmitsEveryLocalUser() && chmod(text.c_str(), 0666) != 0) {
        close(listener);
        unlink(text.c_str());
        return {};
    }
    if (in_file) {
        endpoint_file = text;
        std::atexit(RemoveSocketFile);
    }
    if (!StartRuntimeThread([listener] { AcceptLoop(listener); })) {
        close(listener);
        return {};
    }
    endpoint_listener = listener;
    endpoint_address = text;
    return endpoint_address;
}

void StopListening() {
    std::lock_guard lock(endpoint_mutex);
    if (endpoint_listener >= 0) shutdown(endpoint_listener, SHUT_RDWR);
    endpoint_listener = -1;
}

std::shared_ptr<Connection> ConnectTo(const std::string& text) {
    static std::mutex cache_mutex;
    static auto* cache = qv::win::KeepUntilUnload(new std::unordered_map<std::string, std::weak_ptr<Connection>>());
    std::lock_guard lock(cache_mutex);
    if (auto it = cache->find(text); it != cache->end())
        if (auto existing = it->second.lock(); existing && existing->connected()) return existing;
    sockaddr_un address{};
    socklen_t length = 0;
    if (!MakeAddress(text, &address, &length)) return nullptr;
    int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return nullptr;
    if (connect(s, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        close(s);
        return nullptr;
    }
    auto connection = Connection::Start(s, true);
    (*cache)[text] = connection;
    return connection;
}

}  // namespace qv::com
