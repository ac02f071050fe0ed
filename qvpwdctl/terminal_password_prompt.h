// The password dialog without a display: the same password box rules on a terminal in raw mode. The prompt
// stands on one line, followed by one "*" per key; refused keys ring the terminal's bell. Enter accepts;
// Escape, Ctrl+C or the end of input cancels. Keys are mapped through the US English layout (terminal_keys.h),
// so the same keys give the same encoding as in the dialog.
#pragma once

#include "password_dialog.h"

#include <optional>
#include <string>

namespace qvpwdctl {

struct TerminalPromptText {
    std::wstring caption;  // a line of its own before the prompt; empty: none
    std::wstring prompt;
};

// Runs the prompt on the terminal of `inFd`, writing to `outFd`. The terminal's settings are restored before it
// returns. Returns the encoding when the user accepted (empty when no key was typed), an empty text when the
// user cancelled, and nothing when `inFd` is not a terminal.
std::optional<std::wstring> RunTerminalPasswordPrompt(int inFd, int outFd, const TerminalPromptText& text,
                                                      bool* accepted = nullptr);

}  // namespace qvpwdctl
