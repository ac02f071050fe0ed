#include "text_case.h"

namespace zmrmc {

unsigned char FoldCase(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);  // Latin-1 letters
    switch (c) {
    case 0x8A: return 0x9A;  // S caron
    case 0x8C: return 0x9C;  // OE
    case 0x8E: return 0x9E;  // Z caron
    case 0x9F: return 0xFF;  // Y diaeresis
    default: return c;
    }
}

bool EqualsIgnoringCase(const char* a, const char* b) {
    if (a == nullptr) a = "";
    if (b == nullptr) b = "";
    for (;; ++a, ++b) {
        if (FoldCase(static_cast<unsigned char>(*a)) != FoldCase(static_cast<unsigned char>(*b))) return false;
        if (*a == '\0') return true;
    }
}

}  // namespace zmrmc
