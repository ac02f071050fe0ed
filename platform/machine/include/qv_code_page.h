// Windows-1252: the ANSI code page of the simulated PC's Windows, and the character set of its firmware's texts
// (setting names, choices, strings). Profiles and states are JSON, whose texts are UTF-8; they reach the
// firmware as Windows-1252 bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace qv::machine {

// The character of a Windows-1252 byte. The five bytes the code page leaves undefined (81h, 8Dh, 8Fh, 90h, 9Dh)
// map to the C1 control of the same value, as Windows maps them.
char32_t FromWindows1252(unsigned char byte);
// The byte of a character; nothing when the code page has none.
std::optional<unsigned char> ToWindows1252(char32_t character);

// UTF-8. Decoding gives nothing for malformed text when `strict`, else U+FFFD for each malformed byte; encoding
// writes U+FFFD for a value that is not a Unicode scalar value.
std::optional<std::u32string> DecodeUtf8(const unsigned char* text, size_t size, bool strict);
void EncodeUtf8(char32_t character, std::string& out);

// UTF-8 text as Windows-1252 bytes. Nothing when a character has no byte; `refused` then gets it.
std::optional<std::string> Utf8ToWindows1252(const std::string& utf8, char32_t* refused = nullptr);
std::string Windows1252ToUtf8(const std::string& bytes);

// "U+00E9 (é)": a character as a message names it.
std::string DescribeCharacter(char32_t character);

}  // namespace qv::machine
