// Object paths and query texts as the framework needs them.
//
// Interim reader until the object path parser joins the framework: it accepts the paths WMI hands a provider
// for one namespace ("Class", "Class=@", "Class=<key>", "Class.Name=<key>,Name=<key>..." with quoted strings,
// decimal and hexadecimal integers and TRUE/FALSE as keys) and refuses everything else, including server and
// namespace prefixes and any white space outside quotes. Keys come back sorted by name without regard to case.

#include "WMIRequestPath.h"

#include "windows.h"

#include <cwctype>
#include <stdexcept>

namespace {

bool IsNameStart(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'_' || (c >= 0x80 && c <= 0xFFFD);
}
bool IsNameChar(wchar_t c) { return IsNameStart(c) || (c >= L'0' && c <= L'9'); }

bool ReadName(const wchar_t*& p, std::wstring* name) {
    if (!IsNameStart(*p)) return false;
    const wchar_t* start = p;
    while (IsNameChar(*p)) ++p;
    name->assign(start, p);
    return true;
}

bool ReadConstant(const wchar_t*& p, VARIANT* value) {
    VariantInit(value);
    if (*p == L'"' || *p == L'\'') {
        wchar_t quote = *p++;
        std::wstring text;
        for (;; ++p) {
            if (*p == L'\0') return false;
            if (*p == quote) break;
            if (quote == L'\'' && (*p == L'\n' || *p == L'\r')) return false;
            if (quote == L'"' && *p == L'\\') {
                ++p;
                if (*p != L'\\' && *p != L'"') return false;
            }
            text += *p;
        }
        ++p;
        value->vt = VT_BSTR;
        value->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return value->bstrVal != nullptr;
    }
    if (p[0] == L'0' && (p[1] == L'x' || p[1] == L'X')) {
        const wchar_t* start = p + 2;
        const wchar_t* q = start;
        while (std::iswxdigit(static_cast<wint_t>(*q))) ++q;
        if (q == start || q - p >= 32) return false;
        value->vt = VT_I4;
        value->lVal = static_cast<LONG>(std::wcstoul(start, nullptr, 16));
        p = q;
        return true;
    }
    if (*p == L'-' || (*p >= L'0' && *p <= L'9')) {
        const wchar_t* q = p + 1;
        while (*q >= L'0' && *q <= L'9') ++q;
        if ((*p == L'-' && q == p + 1) || q - p >= 32) return false;
        value->vt = VT_I4;
        value->lVal = static_cast<LONG>(std::wcstol(p, nullptr, 10));
        p = q;
        return true;
    }
    std::wstring word;
    if (!ReadName(p, &word)) return false;
    if (CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, word.c_str(), -1, L"TRUE", -1) == CSTR_EQUAL) {
        value->vt = VT_I4;
        value->lVal = 1;
        return true;
    }
    if (CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, word.c_str(), -1, L"FALSE", -1) == CSTR_EQUAL) {
        value->vt = VT_I4;
        value->lVal = 0;
        return true;
    }
    return false;
}

bool Parse(const wchar_t* p, WMIRequestPath* out) {
    if (!ReadName(p, &out->className)) return false;
    if (*p == L'\0') return true;
    if (*p == L'=') {
        ++p;
        if (*p == L'@') return p[1] == L'\0';
        out->keys.emplace_back(std::wstring(), VARIANT{});
        if (!ReadConstant(p, &out->keys.back().second)) return false;
        return *p == L'\0';
    }
    if (*p != L'.') return false;
    do {
        ++p;
        std::wstring name;
        if (!ReadName(p, &name) || *p++ != L'=') return false;
        out->keys.emplace_back(name, VARIANT{});
        if (!ReadConstant(p, &out->keys.back().second)) return false;
    } while (*p == L',');
    return *p == L'\0';
}

}  // namespace

WMIRequestPath::~WMIRequestPath() {
    for (auto& key : keys) VariantClear(&key.second);
}

bool ParseRequestPath(LPCWSTR text, WMIRequestPath* out) {
    if (text == nullptr || out == nullptr || *text == L'\0') return false;
    if (!Parse(text, out)) {
        for (auto& key : out->keys) VariantClear(&key.second);
        out->keys.clear();
        out->className.clear();
        return false;
    }
    // Stable exchange sort by name, without regard to case.
    for (size_t i = 1; i < out->keys.size(); ++i)
        for (size_t j = i; j > 0; --j) {
            if (CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, out->keys[j - 1].first.c_str(), -1,
                               out->keys[j].first.c_str(), -1) != CSTR_GREATER_THAN)
                break;
            std::swap(out->keys[j - 1], out->keys[j]);
        }
    return true;
}

std::wstring RequestQueryClass(LPCWSTR query) {
    std::wstring text = query != nullptr ? query : L"";
    for (auto& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    size_t from = text.find(L"from");
    if (from == std::wstring::npos) return L"";
    size_t where = text.find(L"where");
    if (where == std::wstring::npos) where = text.size();
    size_t start = from + 5;
    if (start > text.size()) throw std::out_of_range("query ends right after \"from\"");
    std::wstring part = where < start ? text.substr(start) : text.substr(start, where - start);
    std::wstring result;
    for (wchar_t c : part)
        if (c != L' ') result += c;
    return result;
}
