// US English layout of the scan codes 02h..39h: the unshifted and the shifted character of each key ("" where
// the code is no printable key).

#include "scan_code_text.h"

#include <algorithm>

namespace qv::machine {
namespace {

constexpr unsigned char kFirst = 0x02, kLast = 0x39;
// Index: code - kFirst. Space for keys that type nothing (Backspace, Tab, Enter, Ctrl, Shift...): 0.
constexpr char kPlain[] = "1234567890-=\0\0qwertyuiop[]\0\0asdfghjkl;'`\0\\zxcvbnm,./\0\0\0 ";
constexpr char kShifted[] = "!@#$%^&*()_+\0\0QWERTYUIOP{}\0\0ASDFGHJKL:\"~\0|ZXCVBNM<>?\0\0\0 ";
static_assert(sizeof kPlain == kLast - kFirst + 2 && sizeof kShifted == sizeof kPlain);

}  // namespace

std::optional<std::string> ScanCodesToText(const Bytes& codes) {
    std::string text;
    for (uint8_t code : Bytes(codes.begin(), std::find(codes.begin(), codes.end(), 0))) {
        bool shifted = (code & 0x80) != 0;
        uint8_t key = code & 0x7F;
        if (key < kFirst || key > kLast) return std::nullopt;
        char c = (shifted ? kShifted : kPlain)[key - kFirst];
        if (c == '\0') return std::nullopt;
        text.push_back(c);
    }
    return text;
}

}  // namespace qv::machine
