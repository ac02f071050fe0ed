// Recursive descent over the object path grammar, one routine per rule, with the typed key constants.

#include "WMIObjectPathParser.h"

#include "WMIObjectPathLexer.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <new>
#include <utility>

namespace {

// Longest accepted number text: the routines that read key numbers work on 31 characters at most.
constexpr size_t kMaxNumberText = 31;

bool IsWhiteSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r'; }

bool SameIgnoringAsciiCase(const std::wstring& text, const wchar_t* upper) {
    size_t i = 0;
    for (; i < text.size() && upper[i] != L'\0'; ++i) {
        wchar_t c = text[i];
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        if (c != upper[i]) return false;
    }
    return i == text.size() && upper[i] == L'\0';
}

// Decimal text of an integer token: "-" and at least one digit, or digits.
bool DecimalValue(const std::wstring& text, LONG* value) {
    bool negative = !text.empty() && text[0] == L'-';
    size_t first = negative ? 1 : 0;
    if (text.size() <= first || text.size() > kMaxNumberText) return false;
    uint64_t magnitude = 0;
    for (size_t i = first; i < text.size(); ++i) {
        magnitude = magnitude * 10 + static_cast<uint64_t>(text[i] - L'0');
        if (magnitude > 0xFFFFFFFFull) return false;  // at most 31 digits, so this stops long before wrapping
    }
    if (negative && magnitude > 0x80000000ull) return false;
    uint32_t bits = negative ? static_cast<uint32_t>(0u - static_cast<uint32_t>(magnitude))
                             : static_cast<uint32_t>(magnitude);
    *value = static_cast<LONG>(bits);
    return true;
}

// Text of a hexadecimal token: "0x" and at least one hexadecimal digit.
bool HexValue(const std::wstring& text, LONG* value) {
    if (text.size() <= 2 || text.size() > kMaxNumberText) return false;
    uint64_t bits = 0;
    for (size_t i = 2; i < text.size(); ++i) {
        wchar_t c = text[i];
        unsigned digit = c <= L'9' ? static_cast<unsigned>(c - L'0') : static_cast<unsigned>((c | 0x20) - L'a' + 10);
        bits = bits * 16 + digit;
        if (bits > 0xFFFFFFFFull) return false;
    }
    *value = static_cast<LONG>(static_cast<uint32_t>(bits));
    return true;
}

class Descent {
public:
    Descent(const wchar_t* text, WMIParsedObjectPath& out) : lexer_(text), out_(out) {}

    // True when the whole text fits the grammar.
    bool Run() {
        Advance();
        return Start() && token_ == WMIPathTokenEnd;
    }

private:
    void Advance() { token_ = lexer_.Next(); }

    bool Start() {
        switch (token_) {
        case WMIPathTokenBackslash:
            Advance();
            if (!Namespaces()) return false;
            return OptionalReference();
        case WMIPathTokenIdentifier: {
            std::wstring name = lexer_.Text();
            Advance();
            if (token_ == WMIPathTokenColon) {
                out_.namespaces.push_back(std::move(name));
                Advance();
                return Reference();
            }
            if (token_ == WMIPathTokenBackslash) {
                out_.namespaces.push_back(std::move(name));
                Advance();
                if (!Namespaces()) return false;
                return OptionalReference();
            }
            out_.className = std::move(name);
            return Rest();
        }
        case WMIPathTokenColon: Advance(); return Reference();
        default: return false;
        }
    }

    bool Namespaces() {
        if (token_ != WMIPathTokenIdentifier) return false;
        out_.namespaces.push_back(lexer_.Text());
        Advance();
        while (token_ == WMIPathTokenBackslash) {
            Advance();
            if (token_ != WMIPathTokenIdentifier) return false;
            out_.namespaces.push_back(lexer_.Text());
            Advance();
        }
        return true;
    }

    // After a namespace list: the end, or ":" and an object reference.
    bool OptionalReference() {
        if (token_ != WMIPathTokenColon) return token_ == WMIPathTokenEnd;
        Advance();
        return Reference();
    }

    bool Reference() {
        if (token_ != WMIPathTokenIdentifier) return false;
        out_.className = lexer_.Text();
        Advance();
        return Rest();
    }

    bool Rest() {
        if (token_ == WMIPathTokenEquals) {
            Advance();
            if (token_ == WMIPathTokenAt) {
                Advance();
                out_.singleton = true;
                return token_ == WMIPathTokenEnd;
            }
            return Key(std::nullopt);
        }
        if (token_ == WMIPathTokenDot) {
            Advance();
            if (!NamedKey()) return false;
            while (token_ == WMIPathTokenComma) {
                Advance();
                if (!NamedKey()) return false;
            }
        }
        return true;
    }

    bool NamedKey() {
        if (token_ != WMIPathTokenIdentifier) return false;
        std::wstring name = lexer_.Text();
        Advance();
        if (token_ != WMIPathTokenEquals) return false;
        Advance();
        return Key(std::move(name));
    }

    // Reads one key constant and records it under `name`.
    bool Key(std::optional<std::wstring> name) {
        VARIANT value;
        VariantInit(&value);
        const std::wstring& text = lexer_.Text();
        switch (token_) {
        case WMIPathTokenString:
            value.vt = VT_BSTR;
            value.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            if (value.bstrVal == nullptr) throw std::bad_alloc();
            break;
        case WMIPathTokenInteger:
            value.vt = VT_I4;
            if (!DecimalValue(text, &value.lVal)) return false;
            break;
        case WMIPathTokenHexInteger:
            value.vt = VT_I4;
            if (!HexValue(text, &value.lVal)) return false;
            break;
        case WMIPathTokenIdentifier:
            value.vt = VT_I4;
            if (SameIgnoringAsciiCase(text, L"TRUE")) {
                value.lVal = 1;
            } else if (SameIgnoringAsciiCase(text, L"FALSE")) {
                value.lVal = 0;
            } else {
                return false;
            }
            break;
        default: return false;
        }
        WMIPathKey key(std::move(name), &value);  // owns the value from here on
        out_.keys.push_back(std::move(key));
        Advance();
        return true;
    }

    WMIObjectPathLexer lexer_;
    WMIParsedObjectPath& out_;
    WMIPathToken token_ = WMIPathTokenEnd;
};

}  // namespace

WMIPathParseResult WMIObjectPathParser::Parse(const wchar_t* path, std::unique_ptr<WMIParsedObjectPath>& parsed) const {
    parsed.reset();
    if (path == nullptr || path[0] == L'\0') return WMIPathParseInvalidParameter;
    size_t length = std::wcslen(path);
    if (IsWhiteSpace(path[0]) || IsWhiteSpace(path[length - 1])) return WMIPathParseInvalidParameter;

    auto result = std::make_unique<WMIParsedObjectPath>();
    const wchar_t* rest = path;
    if ((path[0] == L'\\' && path[1] == L'\\') || (path[0] == L'/' && path[1] == L'/')) {
        const wchar_t* server = path + 2;
        const wchar_t* separator = server;
        while (*separator != L'\0' && *separator != L'\\' && *separator != L'/') ++separator;
        if (separator == server || *separator == L'\0') return WMIPathParseSyntaxError;
        result->server.emplace(server, separator);
        rest = separator;
    }

    Descent descent(rest, *result);
    if (!descent.Run()) return WMIPathParseSyntaxError;
    if (!result->namespaces.empty() && !result->server) return WMIPathParseSyntaxError;

    if (result->keys.size() >= 2) {
        std::stable_sort(result->keys.begin(), result->keys.end(), [](const WMIPathKey& a, const WMIPathKey& b) {
            return CompareKeyNames(a.Name().value_or(L""), b.Name().value_or(L"")) < 0;
        });
    }
    parsed = std::move(result);
    return WMIPathParseNoError;
}
