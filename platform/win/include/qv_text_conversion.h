// Text conversions of platform code: ANSI (the Windows-1252 code page) for the narrow ("A") functions, UTF-8
// for the host (file names, environment, logs).
#pragma once

#include <optional>
#include <string>

namespace qv::win {

// ANSI text to wide text. Nothing when `text` is null or cannot be converted; the last error then says why.
std::optional<std::wstring> FromAnsi(const char* text);
// Wide text to ANSI; characters the code page lacks become '?'. Nothing when it cannot be converted; the last
// error then says why.
std::optional<std::string> ToAnsi(const std::wstring& text);

// Wide text <-> UTF-8. Characters that are not Unicode scalar values, and malformed UTF-8, become U+FFFD.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

}  // namespace qv::win
