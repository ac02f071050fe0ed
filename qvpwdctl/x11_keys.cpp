#include "x11_keys.h"

namespace qvpwdctl {

uint8_t ScanCodeOfX11Keycode(unsigned keycode) {
    if (keycode < 8 || keycode > 8 + 0xFF) return 0;
    unsigned key = keycode - 8;
    switch (key) {
    case 96: return 0x1C;   // keypad Enter
    case 97: return 0x1D;   // right Ctrl
    case 98: return 0x35;   // keypad slash
    case 100: return 0x38;  // right Alt
    case 102: return 0x47;  // Home
    case 103: return 0x48;  // Up
    case 104: return 0x49;  // Page Up
    case 105: return 0x4B;  // Left
    case 106: return 0x4D;  // Right
    case 107: return 0x4F;  // End
    case 108: return 0x50;  // Down
    case 109: return 0x51;  // Page Down
    case 110: return 0x52;  // Insert
    case 111: return 0x53;  // Delete
    default: return static_cast<uint8_t>(key);
    }
}

int KeypadDigit(uint8_t scanCode) {
    switch (scanCode) {
    case 0x47: return 7;
    case 0x48: return 8;
    case 0x49: return 9;
    case 0x4B: return 4;
    case 0x4C: return 5;
    case 0x4D: return 6;
    case 0x4F: return 1;
    case 0x50: return 2;
    case 0x51: return 3;
    case 0x52: return 0;
    default: return -1;
    }
}

}  // namespace qvpwdctl
