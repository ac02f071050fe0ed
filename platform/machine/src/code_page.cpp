// Windows-1252 and UTF-8.

#include "qv_code_page.h"

#include <cstdio>

namespace qv::machine {
namespace {

// The characters of bytes 80h..9Fh; 0 marks the five bytes the code page leaves undefined.
constexpr char32_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                                0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                                0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool ScalarValue(char32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

}  // namespace

char32_t FromWindows1252(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F && kHigh[byte - 0x80] != 0) return kHigh[byte - 0x80];
    return byte;
}

std::optional<unsigned char> ToWindows1252(char32_t character) {
    if (character < 0x80 || (character >= 0xA0 && character <= 0xFF)) return static_cast<unsigned char>(character);
    for (unsigned i = 0; i < 32; ++i)
        if (FromWindows1252(static_cast<unsigned char>(0x80 + i)) == character)
            return static_cast<unsigned char>(0x80 + i);
    return std::nullopt;
}

std::optional<std::u32string> DecodeUtf8(const unsigned char* s, size_t n, bool strict) {
    std::u32string out;
    for (size_t i = 0; i < n;) {
        unsigned char c = s[i];
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
        bool ok = len != 0 && i + len <= n;
        for (size_t k = 1; ok && k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        // Over-long forms and values that are no Unicode scalar value are malformed too.
        if (ok &&
            (!ScalarValue(cp) || (len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000)))
            ok = false;
        if (!ok) {
            if (strict) return std::nullopt;
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += len;
    }
    return out;
}

void EncodeUtf8(char32_t cp, std::string& out) {
    if (!ScalarValue(cp)) cp = 0xFFFD;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::optional<std::string> Utf8ToWindows1252(const std::string& utf8, char32_t* refused) {
    std::string bytes;
    bytes.reserve(utf8.size());
    for (unsigned char c : utf8) {  // the common case, ASCII, needs no decoding
        if (c >= 0x80) {
            bytes.clear();
            break;
        }
        bytes.push_back(static_cast<char>(c));
    }
    if (bytes.size() == utf8.size()) return bytes;
    std::optional<std::u32string> decoded = DecodeUtf8(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size(),
                                                       false);
    for (char32_t c : *decoded) {
        std::optional<unsigned char> byte = ToWindows1252(c);
        if (!byte) {
            if (refused != nullptr) *refused = c;
            return std::nullopt;
        }
        bytes.push_back(static_cast<char>(*byte));
    }
    return bytes;
}

std::string Windows1252ToUtf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) EncodeUtf8(FromWindows1252(c), out);
    return out;
}

std::string DescribeCharacter(char32_t character) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(character));
    std::string shown;
    EncodeUtf8(character, shown);
    return std::string(code) + " (" + shown + ")";
}

}  // namespace qv::machine
