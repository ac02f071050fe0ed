// Parsing and writing of WMI object paths.
#include "qv_object_path.h"

#include <algorithm>
#include <cwctype>

namespace qv::wbem {

std::wstring PathValueText(const CimValue& value) {
    if (value.null || value.elements.empty()) return L"NULL";
    const CimScalar& e = value.elements[0];
    if (auto* s = std::get_if<std::wstring>(&e)) {
        std::wstring out = L"\"";
        for (wchar_t c : *s) {
            if (c == L'"' || c == L'\\') out += L'\\';
            out += c;
        }
        return out + L"\"";
    }
    if (auto* b = std::get_if<bool>(&e)) return *b ? L"TRUE" : L"FALSE";
    if (auto* i = std::get_if<int64_t>(&e)) return std::to_wstring(*i);
    if (auto* u = std::get_if<uint64_t>(&e)) return std::to_wstring(*u);
    if (auto* d = std::get_if<double>(&e)) return std::to_wstring(*d);
    return L"NULL";
}

std::wstring ObjectPath::RelativeText() const {
    if (singleton) return className + L"=@";
    if (keys.empty()) return className;
    std::wstring out = className;
    if (keys.size() == 1 && keys[0].name.empty()) return out + L"=" + PathValueText(keys[0].value);
    for (size_t i = 0; i < keys.size(); ++i)
        out += (i ? L"," : L".") + keys[i].name + L"=" + PathValueText(keys[i].value);
    return out;
}

std::wstring ObjectPath::CanonicalKey() const {
    std::vector<std::wstring> parts;
    for (const Key& k : keys) parts.push_back(LowerName(k.name) + L"=" + PathValueText(k.value));
    std::sort(parts.begin(), parts.end());
    std::wstring out = LowerName(className);
    if (singleton) return out + L"=@";
    for (size_t i = 0; i < parts.size(); ++i) out += (i ? L"," : L".") + parts[i];
    return out;
}

namespace {

bool IsNameChar(wchar_t c) { return std::iswalnum(c) || c == L'_'; }

std::optional<CimValue> ParseValue(const std::wstring& t, size_t& i) {
    if (i < t.size() && t[i] == L'"') {
        std::wstring s;
        for (++i; i < t.size() && t[i] != L'"'; ++i) {
            if (t[i] == L'\\') {
                if (++i >= t.size()) return std::nullopt;
            }
            s += t[i];
        }
        if (i >= t.size()) return std::nullopt;
        ++i;
        return CimValue::String(s);
    }
    size_t start = i;
    while (i < t.size() && t[i] != L',') ++i;
    std::wstring word = t.substr(start, i - start);
    if (word.empty()) return std::nullopt;
    std::wstring lower = LowerName(word);
    if (lower == L"true" || lower == L"false") return CimValue::Bool(lower == L"true");
    bool negative = word[0] == L'-';
    size_t digits = negative ? 1 : 0;
    if (digits >= word.size()) return std::nullopt;
    uint64_t magnitude = 0;
    for (size_t k = digits; k < word.size(); ++k) {
        if (!std::iswdigit(word[k])) return std::nullopt;
        uint64_t d = static_cast<uint64_t>(word[k] - L'0');
        if (magnitude > (UINT64_MAX - d) / 10) return std::nullopt;
        magnitude = magnitude * 10 + d;
    }
    if (negative) {
        if (magnitude > static_cast<uint64_t>(INT64_MAX) + 1) return std::nullopt;
        return CimValue::Sint(CIM_SINT64, static_cast<int64_t>(0 - magnitude));
    }
    return CimValue::Uint(CIM_UINT64, magnitude);
}

}  // namespace

std::optional<ObjectPath> ParseObjectPath(const std::wstring& text) {
    ObjectPath path;
    std::wstring t = text;
    if (t.size() >= 2 && (t[0] == L'\\' || t[0] == L'/') && (t[1] == L'\\' || t[1] == L'/')) {
        size_t end = t.find_first_of(L"\\/", 2);
        if (end == std::wstring::npos) return std::nullopt;
        path.server = t.substr(2, end - 2);
        t = t.substr(end + 1);
    }
    size_t colon = t.find(L':');
    size_t quote = t.find(L'"');
    if (colon != std::wstring::npos && (quote == std::wstring::npos || colon < quote)) {
        path.nameSpace = t.substr(0, colon);
        t = t.substr(colon + 1);
    }
    size_t i = 0;
    while (i < t.size() && IsNameChar(t[i])) ++i;
    path.className = t.substr(0, i);
    if (path.className.empty()) return std::nullopt;
    if (i == t.size()) return path;
    if (t[i] == L'=') {
        ++i;
        if (t.substr(i) == L"@") {
            path.singleton = true;
            return path;
        }
        auto value = ParseValue(t, i);
        if (!value || i != t.size()) return std::nullopt;
        path.keys.push_back({L"", *value});
        return path;
    }
    if (t[i] != L'.') return std::nullopt;
    ++i;
    while (true) {
        size_t start = i;
        while (i < t.size() && IsNameChar(t[i])) ++i;
        if (i == start || i >= t.size() || t[i] != L'=') return std::nullopt;
        std::wstring name = t.substr(start, i - start);
        ++i;
        auto value = ParseValue(t, i);
        if (!value) return std::nullopt;
        path.keys.push_back({name, *value});
        if (i == t.size()) return path;
        if (t[i] != L',') return std::nullopt;
        ++i;
    }
}

}  // namespace qv::wbem
