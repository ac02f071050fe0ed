// The keys of a terminal in raw mode. A terminal sends characters, not keys, so each character is mapped back
// to the key that types it on the US English layout (OemKeyScan): 'a' is scan code 0x1E, 'A' the same key
// with Shift. Escape sequences give the caret keys. What cannot be told from the characters: Caps Lock
// (a letter typed with it arrives as the other case, which gives the same key code; a digit does not), and
// the keypad keys (they arrive as the characters of the main keys).
#pragma once

#include "scan_code_edit.h"

#include <cstddef>
#include <optional>
#include <string_view>

namespace qvpwdctl {

struct TerminalKey {
    enum class Kind {
        kCharacter,  // a character message (after the key-down of `vk`)
        kCaretKey,   // a key-down only: VK_LEFT, VK_RIGHT, VK_UP, VK_DOWN, VK_HOME, VK_END, VK_DELETE
        kAccept,     // Enter
        kCancel,     // Escape alone, or Ctrl+C
        kIgnored,    // Tab, Alt with a key, sequences of other keys
        kRefused,    // a character no key of the layout types (beep)
    };
    Kind kind = Kind::kIgnored;
    wchar_t character = 0;
    KeyStroke stroke;
    unsigned vk = 0;
};

struct DecodedKey {
    TerminalKey key;
    size_t used = 0;  // bytes of the input it took
};

// The first key of `input`. Null when `input` is empty or, unless `complete` (no more input follows for now),
// when it begins with an unfinished escape sequence; with `complete` a lone Escape is a key of its own.
std::optional<DecodedKey> DecodeTerminalKey(std::string_view input, bool complete);

}  // namespace qvpwdctl
