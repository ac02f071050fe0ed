// The terminal zmrmc may be talking to.
#pragma once

#include <optional>
#include <string>

bool StandardInputIsTerminal();
bool StandardErrorIsTerminal();

// Shows `prompt` on standard error and reads one line from the terminal on standard input without echoing
// it. Nothing when standard input is not a terminal or the input ends first.
std::optional<std::string> ReadWithoutEcho(const std::string& prompt);
