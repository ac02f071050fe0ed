// Debugger output of the test process, captured in a temporary file.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

class DebugCapture {
public:
    DebugCapture() {
        char pattern[] = "/tmp/qv-debug-XXXXXX";
        int fd = mkstemp(pattern);
        if (fd >= 0) close(fd);
        path_ = pattern;
        setenv("QV_DEBUG_OUTPUT", path_.c_str(), 1);
    }
    ~DebugCapture() {
        unsetenv("QV_DEBUG_OUTPUT");
        std::remove(path_.c_str());
    }
    std::string Text() const {
        std::ifstream in(path_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool Contains(const std::string& piece) const { return Text().find(piece) != std::string::npos; }

private:
    std::string path_;
};
