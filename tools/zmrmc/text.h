// Text crossing between the library (ANSI, Windows-1252) and the terminal, files and JSON (UTF-8).
#pragma once

#include <string>
#include <string_view>

std::string Utf8FromAnsi(std::string_view ansi);
// Characters the ANSI code page lacks become "?".
std::string AnsiFromUtf8(std::string_view utf8);
// Whether two UTF-8 texts are equal ignoring case.
bool SameIgnoringCase(std::string_view a, std::string_view b);
// Without white space at either end.
std::string_view Trimmed(std::string_view text);
