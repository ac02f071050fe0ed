// Keys of an X display as the password box sees them. On X the hardware key code is the kernel's key number
// plus 8, and the kernel numbers the keys of the main block and the keypad by their set-1 scan codes; keys
// that set 1 reaches with an E0 prefix have numbers of their own, given back here as the scan code that
// follows the prefix (keypad Enter 0x1C, keypad slash 0x35, the caret keys 0x47 to 0x53).
#pragma once

#include <cstdint>

namespace qvpwdctl {

// The set-1 scan code of an X hardware key code (0 for codes outside the keyboard's range).
uint8_t ScanCodeOfX11Keycode(unsigned keycode);

// The digit of a keypad key by scan code (the keys Alt with keypad digits types a character with), or -1.
int KeypadDigit(uint8_t scanCode);

}  // namespace qvpwdctl
