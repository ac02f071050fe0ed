// Another local user, for tests of who may do what: a child process that drops to the account "nobody"
// (optionally with extra groups). Only root can play it; tests skip elsewhere (CI runs them as root).
#pragma once

#include "qv_child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct OtherUser {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;  // supplementary groups it gets besides its own
};

// The account "nobody", or nothing when this process cannot become it (not root, or no such account).
inline std::optional<OtherUser> NobodyUser() {
    if (geteuid() != 0) return std::nullopt;
    passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) return std::nullopt;
    return OtherUser{nobody->pw_uid, nobody->pw_gid, {}};
}

// In a forked child: becomes `user` for good. False when it could not.
inline bool BecomeUser(const OtherUser& user) {
    return setgroups(user.groups.size(), user.groups.data()) == 0 && setgid(user.gid) == 0 && setuid(user.uid) == 0 &&
           setuid(0) != 0;
}

// Runs `body` in a child process as `user` and returns what it returned (99: the child could not become
// `user`; -2: it did not end within `limit`).
inline int RunAsUser(const OtherUser& user, const std::function<int()>& body,
                     std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    pid_t child = fork();
    if (child == 0) {
        if (!BecomeUser(user)) _exit(99);
        _exit(body());
    }
    return WaitChild(child, limit);
}

// Runs the program args[0] as `user` with this process's environment, standard input /dev/null and standard
// output and error into `output` (made by this process, so the other user need not be able to write there).
// Returns its exit code as WaitChild does (99: the child could not become `user`).
inline int RunProgramAsUser(const OtherUser& user, const std::vector<std::string>& args,
                            const std::filesystem::path& output,
                            std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    pid_t child = fork();
    if (child == 0) {
        int in = open("/dev/null", O_RDONLY);
        int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0) _exit(98);
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        if (!BecomeUser(user)) _exit(99);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return WaitChild(child, limit);
}
