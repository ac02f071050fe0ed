// The US English keyboard: which key, with which shift state, types an ASCII character.

#include "windows.h"
#include "winuser.h"

namespace {

constexpr DWORD kShift = 0x10000;
constexpr DWORD kCtrl = 0x20000;

// The keys of the main block in scan-code order, unshifted and shifted; 0 where a key types nothing.
struct KeyRow {
    BYTE first_scan;
    const char* plain;
    const char* shifted;
};
constexpr KeyRow kRows[] = {
    {0x02, "1234567890-=", "!@#$%^&*()_+"},
    {0x10, "qwertyuiop[]", "QWERTYUIOP{}"},
    {0x1E, "asdfghjkl;'`", "ASDFGHJKL:\"~"},
    {0x2B, "\\zxcvbnm,./", "|ZXCVBNM<>?"},
};

}  // namespace

DWORD OemKeyScan(WORD oemChar) {
    switch (oemChar) {
    case 0x08: return 0x0E;
    case 0x09: return 0x0F;
    case 0x0D: return 0x1C;
    case 0x1B: return 0x01;
    case ' ': return 0x39;
    default: break;
    }
    for (const auto& row : kRows) {
        for (int i = 0; row.plain[i] != '\0'; ++i) {
            if (oemChar == static_cast<BYTE>(row.plain[i])) return static_cast<DWORD>(row.first_scan + i);
            if (oemChar == static_cast<BYTE>(row.shifted[i])) return kShift | static_cast<DWORD>(row.first_scan + i);
        }
    }
    // Control characters 1 to 26 are Ctrl with a letter.
    if (oemChar >= 0x01 && oemChar <= 0x1A) return kCtrl | (OemKeyScan(static_cast<WORD>('a' + oemChar - 1)) & 0xFF);
    return 0xFFFFFFFF;
}
