// ANSI (Windows-1252) and UTF-8 conversion to and from wide text. The code page is the simulated PC's
// (qv_code_page.h).

#include "qv_code_page.h"
#include "qv_text_conversion.h"
#include "windows.h"

#include <climits>
#include <cwchar>
#include <string>

namespace {

using qv::machine::EncodeUtf8;

bool IsAnsi(UINT cp) { return cp == CP_ACP || cp == CP_OEMCP || cp == CP_1252; }

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
        for (size_t i = 0; i < n; ++i) decoded.push_back(qv::machine::FromWindows1252(bytes[i]));
    } else if (codePage == CP_UTF8) {
        std::optional<std::u32string> utf8 = qv::machine::DecodeUtf8(bytes, n, (flags & MB_ERR_INVALID_CHARS) != 0);
        if (!utf8) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
        decoded = std::move(*utf8);
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
            std::optional<unsigned char> b = qv::machine::ToWindows1252(static_cast<char32_t>(wide[i]));
            if (!b) {
                defaulted = true;
                encoded.push_back(fallback);
            } else {
                encoded.push_back(static_cast<char>(*b));
            }
        }
    } else if (codePage == CP_UTF8) {
        for (size_t i = 0; i < n; ++i) EncodeUtf8(static_cast<char32_t>(wide[i]), encoded);
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
    for (wchar_t c : text) EncodeUtf8(static_cast<char32_t>(c), out);
    return out;
}

std::wstring FromUtf8(const std::string& text) {
    std::u32string decoded = *qv::machine::DecodeUtf8(reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                                                      false);
    return std::wstring(decoded.begin(), decoded.end());
}

}  // namespace qv::win
