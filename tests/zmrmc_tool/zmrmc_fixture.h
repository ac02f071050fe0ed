// Runs zmrmc as an administrator does: the real program on a fresh system root, its library, driver and
// simulated machine. Standard input is never a terminal here, so no prompt and no progress line appear.
#pragma once

#include "qv_child_process.h"
#include "qv_temp_root.h"
#include "qv_test_paths.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using nlohmann::json;

inline std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct Outcome {
    int code = -1;
    std::string out, err;
};

class ZmrmcCommand : public TempRootTest {
protected:
    // Runs zmrmc with `args` on this test's root and machine; standard input from `input` when given.
    Outcome Zmrmc(const std::vector<std::string>& args, const std::string& input = "") {
        return ZmrmcOn(root_, args, input);
    }
    // The same on `root`; `redirect` is added to the shell's command line (e.g. "3< FILE") when given.
    Outcome ZmrmcOn(const fs::path& root, const std::vector<std::string>& args, const std::string& input = "",
                    const std::string& redirect = "") {
        std::vector<std::string> argv = {BuildTree() + "/bin/zmrmc"};
        argv.insert(argv.end(), args.begin(), args.end());
        if (!input.empty() || !redirect.empty()) {  // through the shell, which gives the program its input
            std::ofstream(root / "input.txt", std::ios::binary) << input;
            std::string line = "exec";
            for (const auto& a : argv) line += " '" + a + "'";
            argv = {"/bin/sh", "-c", line + " < '" + (root / "input.txt").string() + "' " + redirect};
        }
        std::vector<std::string> env = {"QV_SYSTEM_ROOT=" + root.string(), "QV_MACHINE=" + machine_,
                                        "QV_DRIVER_WATCH_PID=" + std::to_string(getpid()), display_};
        pid_t pid = StartChild(argv, root / "out.txt", root / "err.txt", env);
        Outcome run;
        run.code = WaitChild(pid, std::chrono::seconds(120));
        run.out = Contents(root / "out.txt");
        run.err = Contents(root / "err.txt");
        return run;
    }
    std::string Path(const char* name) const { return (root_ / name).string(); }
    void Write(const char* name, const std::string& text) { std::ofstream(root_ / name, std::ios::binary) << text; }
    // `text` with the first `from` replaced by `to`.
    static std::string Replaced(std::string text, const std::string& from, const std::string& to) {
        size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) text.replace(at, from.size(), to);
        return text;
    }

    std::string machine_ = "desktop";
    std::string display_ = "DISPLAY";  // no display: nothing may ask for a password in a dialog
};
