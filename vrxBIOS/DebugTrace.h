// The debug trace of vrxBIOS: its only log. Text goes to the debugger output (OutputDebugStringW).
#pragma once

#include "windows.h"

// Formats with the wide printf conventions of Windows (%s is a wide string, %S and %hs narrow ones, %c a wide
// character) into a zero-filled buffer of 4 * (L + 255) characters for a format of L <= 256 characters (else
// 2 * L + 510) and writes it; text that does not fit is cut. A null format writes nothing.
void DebugTrace(LPCWSTR format, ...);

// Writes the system's text for an error code. A zero code means GetLastError(); when that is zero too,
// nothing is written. Codes without a text are not written either.
void ReportLastError(DWORD code);
