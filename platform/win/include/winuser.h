// User services used by system code: character case.
#pragma once

#include "windef.h"

// Case folding follows Unicode's simple lower-case mapping, independent of the process locale.
// CharLowerW: a pointer whose high-order word is zero carries one character in its low word; that character
// is returned lower-cased the same way. Any other pointer names a NUL-terminated text that is lower-cased in
// place; the pointer is returned.
LPWSTR CharLowerW(LPWSTR text);
// Lower-cases `length` characters of `text` in place (NULs included) and returns `length`.
DWORD CharLowerBuffW(LPWSTR text, DWORD length);
