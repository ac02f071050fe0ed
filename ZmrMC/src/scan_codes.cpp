#include "scan_codes.h"

#include <cstring>
#include <string>
#include <vector>

namespace zmrmc {
namespace {

struct KeyToken {
    unsigned char code;
    const char* token;
};

// Set-1 make codes of the US layout. Matching takes the first entry whose whole token equals the text at the
// current position ignoring case, so the order matters only between tokens sharing a prefix.
constexpr KeyToken kKeyTokens[] = {
    {0x02, "1"},          {0x02, "!"},          {0x03, "2"},          {0x03, "@"},          {0x04, "3"},
    {0x04, "#"},          {0x05, "4"},          {0x05, "$"},          {0x06, "5"},          {0x06, "%"},
    {0x07, "6"},          {0x07, "^"},          {0x08, "7"},          {0x08, "&"},          {0x09, "8"},
    {0x09, "*"},          {0x0A, "9"},          {0x0A, "("},          {0x0B, "0"},          {0x0B, ")"},
    {0x0C, "-"},          {0x0C, "_"},          {0x0D, "="},          {0x0D, "+"},          {0x10, "Q"},
    {0x11, "W"},          {0x12, "E"},          {0x13, "R"},          {0x14, "T"},          {0x15, "Y"},
    {0x16, "U"},          {0x17, "I"},          {0x18, "O"},          {0x19, "P"},          {0x1A, "["},
    {0x1B, "]"},          {0x1E, "A"},          {0x1F, "S"},          {0x20, "D"},          {0x21, "F"},
    {0x22, "G"},          {0x23, "H"},          {0x24, "J"},          {0x25, "K"},          {0x26, "L"},
    {0x27, ";"},          {0x28, "'"},          {0x29, "`"},          {0x2B, "\\"},         {0x2C, "Z"},
    {0x2D, "X"},          {0x2E, "C"},          {0x2F, "V"},          {0x30, "B"},          {0x31, "N"},
    {0x32, "M"},          {0x33, ","},          {0x34, "."},          {0x37, "<KEYPAD *>"}, {0x39, "<SPACE BAR>"},
    {0x39, "< >"},        {0x47, "<KEYPAD 7>"}, {0x48, "<KEYPAD 8>"}, {0x49, "<KEYPAD 9>"}, {0x4A, "<KEYPAD ->"},
    {0x4B, "<KEYPAD 4>"}, {0x4C, "<KEYPAD 5>"}, {0x4D, "<KEYPAD 6>"}, {0x4E, "<KEYPAD +>"}, {0x4F, "<KEYPAD 1>"},
    {0x50, "<KEYPAD 2>"}, {0x51, "<KEYPAD 3>"}, {0x52, "<KEYPAD 0>"}, {0x53, "<KEYPAD .>"},
};
static_assert(sizeof kKeyTokens / sizeof kKeyTokens[0] == 74);

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

bool TokenAt(const char* at, const char* token) {
    for (; *token != '\0'; ++at, ++token)
        if (*at == '\0' || Upper(*at) != Upper(*token)) return false;
    return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int HexNibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Key text to codes; on failure `*failed_at` is the offset of the character that did not convert.
bool ConvertKeys(const char* text, std::vector<unsigned char>& out, size_t* failed_at) {
    for (const char* at = text; *at != '\0';) {
        const KeyToken* match = nullptr;
        for (const auto& entry : kKeyTokens) {
            if (TokenAt(at, entry.token)) {
                match = &entry;
                break;
            }
        }
        if (match == nullptr) {
            *failed_at = static_cast<size_t>(at - text);
            return false;
        }
        out.push_back(match->code);
        at += std::strlen(match->token);
    }
    return true;
}

// Hexadecimal codes; blanks may stand anywhere, also between the two digits of a byte.
bool ConvertHex(const char* text, std::vector<unsigned char>& out, size_t* failed_at, bool* bad_character) {
    int nibbles = 0;
    unsigned char high = 0;
    for (const char* at = text; *at != '\0'; ++at) {
        if (IsBlank(*at)) continue;
        int nibble = HexNibble(*at);
        if (nibble < 0) {
            *failed_at = static_cast<size_t>(at - text);
            *bad_character = true;
            return false;
        }
        if (nibbles++ % 2 == 0)
            high = static_cast<unsigned char>(nibble << 4);
        else
            out.push_back(static_cast<unsigned char>(high | nibble));
    }
    *bad_character = false;
    return nibbles % 2 == 0;
}

}  // namespace

bool KeyTextToScanCodes(int mode, const char* text, unsigned char* codes, const char** error_position) {
    if (text == nullptr || codes == nullptr) return false;
    codes[0] = 0;
    if (mode != 0) {
        if (error_position != nullptr) *error_position = text;
        return false;
    }
    std::vector<unsigned char> out;
    size_t failed_at = 0;
    if (!ConvertKeys(text, out, &failed_at)) {
        if (error_position != nullptr) *error_position = text + failed_at;
        return false;
    }
    if (!out.empty()) std::memcpy(codes, out.data(), out.size());
    codes[out.size()] = 0;
    if (error_position != nullptr) *error_position = nullptr;
    return true;
}

bool TaggedPasswordToScanCodes(const char* text, unsigned char* codes, int capacity, const char** error_position) {
    if (text == nullptr || codes == nullptr) return false;

    // Work on a trimmed copy; offsets into it map back to the caller's text by adding `lead`.
    size_t lead = 0;
    size_t length = std::strlen(text);
    while (lead < length && IsBlank(text[lead])) ++lead;
    while (length > lead && IsBlank(text[length - 1])) --length;
    std::string work(text + lead, length - lead);

    size_t close = work.find("/>");
    if (work.empty() || work[0] != '<' || close == std::string::npos) return false;

    static const char kDelimiters[] = " ,</>";
    size_t name_start = work.find_first_not_of(kDelimiters);
    if (name_start == std::string::npos) return false;
    size_t name_end = work.find_first_of(kDelimiters, name_start);
    std::string name = work.substr(name_start,
                                   name_end == std::string::npos ? std::string::npos : name_end - name_start);
    for (auto& c : name) c = Upper(c);

    size_t payload_offset = close + 2;
    std::string payload = work.substr(payload_offset);
    for (auto& c : payload) c = Upper(c);

    std::vector<unsigned char> out;
    size_t failed_at = 0;
    bool converted;
    bool points_at_character = true;
    if (name == "KBD") {
        converted = ConvertHex(payload.c_str(), out, &failed_at, &points_at_character);
    } else if (name == "EN-US") {
        converted = ConvertKeys(payload.c_str(), out, &failed_at);
    } else {
        return false;
    }
    if (!converted) {
        if (points_at_character && error_position != nullptr)
            *error_position = text + lead + payload_offset + failed_at;
        return false;
    }

    // The result ends at its first zero byte; the firmware form has no shift bit.
    size_t used = 0;
    while (used < out.size() && out[used] != 0) ++used;
    if (capacity <= 0 || used + 1 > static_cast<size_t>(capacity)) return false;
    for (size_t i = 0; i < used; ++i) codes[i] = out[i] & 0x7F;
    codes[used] = 0;
    if (name == "EN-US" && error_position != nullptr) *error_position = nullptr;
    return true;
}

}  // namespace zmrmc
