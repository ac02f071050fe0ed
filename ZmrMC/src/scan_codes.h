// Keyboard scan codes for firmware passwords: plain key text and the tagged password forms.
//
// The firmware keeps passwords as set-1 make codes of the US layout, one byte per key, without shift state.
// Results are zero-terminated byte strings; a result is never longer than the text that produced it.
#pragma once

#include <cstddef>

namespace zmrmc {

// Converts key text ("abc", "1<KEYPAD 1>2", "A< >B") into `codes`, which must hold strlen(text) + 1 bytes.
// Only mode 0 exists. On failure the output is emptied and *error_position (when given) points at the first
// character of `text` that could not be converted; on success it is set to null.
bool KeyTextToScanCodes(int mode, const char* text, unsigned char* codes, const char** error_position);

// Converts a tagged password ("<kbd/>1E 30", "<en-US/>abc") into at most `capacity` bytes of `codes`
// (terminator included). False for text that is not tagged (output and error position untouched), an
// unknown tag, a payload that does not convert (error position at the offending character of `text` where
// there is one), or a result that does not fit the capacity (nothing written).
bool TaggedPasswordToScanCodes(const char* text, unsigned char* codes, int capacity, const char** error_position);

}  // namespace zmrmc
