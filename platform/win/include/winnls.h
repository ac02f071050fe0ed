// Locale-aware text comparison.
#pragma once

#include "windef.h"

typedef DWORD LCID;
#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_SYSTEM_DEFAULT 0x0800
#define LOCALE_INVARIANT 0x007F
#define NORM_IGNORECASE 0x00000001
#define CSTR_LESS_THAN 1
#define CSTR_EQUAL 2
#define CSTR_GREATER_THAN 3

// Compares two texts (a length of -1: up to the NUL). With NORM_IGNORECASE letters compare by their lower-case
// form. Returns CSTR_LESS_THAN, CSTR_EQUAL or CSTR_GREATER_THAN, or 0 with ERROR_INVALID_PARAMETER for a null
// text or unsupported flags. Every locale compares like the invariant one on this platform.
int CompareStringW(LCID locale, DWORD flags, LPCWSTR text1, int length1, LPCWSTR text2, int length2);
