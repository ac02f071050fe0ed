// Case-insensitive comparison of ANSI (Windows-1252) text, independent of the process locale.
#pragma once

namespace zmrmc {

// Lower-case form of one Windows-1252 byte.
unsigned char FoldCase(unsigned char c);
// Null counts as the empty text.
bool EqualsIgnoringCase(const char* a, const char* b);

}  // namespace zmrmc
