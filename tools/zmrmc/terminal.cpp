#include "terminal.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

bool StandardInputIsTerminal() { return isatty(STDIN_FILENO) == 1; }
bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

std::optional<std::string> ReadWithoutEcho(const std::string& prompt) {
    if (!StandardInputIsTerminal()) return std::nullopt;
    std::cerr << prompt << std::flush;
    termios saved{};
    bool restore = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (restore) {
        termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL;
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    bool read = static_cast<bool>(std::getline(std::cin, line));
    if (restore) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    if (!read) {
        std::cerr << '\n';
        return std::nullopt;
    }
    return line;
}
