// ANSI (Windows-1252) and UTF-8 conversion to and from wide text.

#include "qv_text_conversion.h"
#include "windows.h"

#include <climits>
#include <cwchar>
#include <string>

namespace {

// Windows-1252 code points for bytes 0x80..0x9F; 0 marks the five bytes the code page leaves undefined,
// which Windows maps to the C1 control of the same value.
constexpr char32_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t Cp1252ToUnicode(unsigned char c) {
    if (c >= 0x80 && c <= 0x9F) return kCp1252High[c - 0x80] ? kCp1252High[c - 0x80] : c;
    return c;
}

// Returns -1 when the code point has no byte in the code page.
int UnicodeToCp1252(char32_t u) {
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return static_cast<int>(u);
    for (int i = 0; i < 32; ++i) {
        char32_t mapped = kCp1252High[i] ? kCp1252High[i] : static_cast<char32_t>(0x80 + i);
        if (mapped == u) return 0x80 + i;
    }
    return -1;
}

bool IsAnsi(UINT cp) { return cp == CP_ACP || cp == CP_OEMCP || cp == CP_1252; }

// Decodes UTF-8; malformed sequences become U+FFFD (or fail when strict).
bool DecodeUtf8(const unsigned char* s, size_t n, std::u32string& out, bool strict) {
    for (size_t i = 0; i < n;) {
        unsigned char c = s[i];
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
        bool ok = len != 0 && i + len <= n;
        for (size_t k = 1; ok && k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if (ok && (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || (len == 2 && cp < 0x80) ||
                   (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000)))
            ok = false;
        if (!ok) {
            if (strict) return false;
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += len;
    }
    return true;
}

void EncodeUtf8(char32_t cp, std::string& out) {
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

// The end of both conversions: the count needed for a size query (`size` 0), else the converted units copied
// into `out`; 0 with the last error when they do not fit `out` or the count does not fit the result.
template <typename Unit, typename Out>
int Deliver(const std::basic_string<Unit>& converted, Out* out, int size) {
    if (converted.size() > static_cast<size_t>(INT_MAX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int needed = static_cast<int>(converted.size());
    if (size == 0) return needed;
    if (size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (size_t i = 0; i < converted.size(); ++i) out[i] = static_cast<Out>(converted[i]);
    return needed;
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide, int wideSize) {
    if (text == nullptr || length == 0 || length < -1 || wideSize < 0 || (wideSize > 0 && wide == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t n = length == -1 ? std::char_traits<char>::length(text) + 1 : static_cast<size_t>(length);
    std::u32string decoded;
    auto bytes = reinterpret_cast<const unsigned char*>(text);
    if (IsAnsi(codePage)) {
        for (size_t i = 0; i < n; ++i) decoded.push_back(Cp1252ToUnicode(bytes[i]));
    } else if (codePage == CP_UTF8) {
        if (!DecodeUtf8(bytes, n, decoded, (flags & MB_ERR_INVALID_CHARS) != 0)) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return Deliver(decoded, wide, wideSize);
}

int WideCharToMultiByte(UINT codePage, DWORD /*flags*/, LPCWSTR wide, int length, LPSTR text, int size,
                        LPCSTR defaultChar, LPBOOL usedDefault) {
    if (wide == nullptr || length == 0 || length < -1 || size < 0 || (size > 0 && text == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t n = length == -1 ? std::wcslen(wide) + 1 : static_cast<size_t>(length);
    std::string encoded;
    bool defaulted = false;
    if (IsAnsi(codePage)) {
        char fallback = defaultChar != nullptr ? *defaultChar : '?';
        for (size_t i = 0; i < n; ++i) {
            int b = UnicodeToCp1252(static_cast<char32_t>(wide[i]));
            if (b < 0) {
                defaulted = true;
                encoded.push_back(fallback);
            } else {
                encoded.push_back(static_cast<char>(b));
            }
        }
    } else if (codePage == CP_UTF8) {
        for (size_t i = 0; i < n; ++i) {
            auto cp = static_cast<char32_t>(wide[i]);
            if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
            EncodeUtf8(cp, encoded);
        }
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (usedDefault != nullptr) *usedDefault = defaulted ? TRUE : FALSE;
    return Deliver(encoded, text, size);
}

namespace qv::win {

std::optional<std::wstring> FromAnsi(const char* text) {
    if (text == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    int size = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (size <= 0) return std::nullopt;
    std::wstring wide(static_cast<size_t>(size), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), size) != size) return std::nullopt;
    wide.resize(wide.size() - 1);
    return wide;
}

std::optional<std::string> ToAnsi(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::nullopt;
    std::string narrow(static_cast<size_t>(size), '\0');
    if (WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow.data(), size, nullptr, nullptr) != size)
        return std::nullopt;
    narrow.resize(narrow.size() - 1);
    return narrow;
}

std::string ToUtf8(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        auto cp = static_cast<char32_t>(c);
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        EncodeUtf8(cp, out);
    }
    return out;
}

std::wstring FromUtf8(const std::string& text) {
    std::u32string decoded;
    DecodeUtf8(reinterpret_cast<const unsigned char*>(text.data()), text.size(), decoded, false);
    return std::wstring(decoded.begin(), decoded.end());
}

}  // namespace qv::win
