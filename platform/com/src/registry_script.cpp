// The registrar's script language: tokens, tree, and the register/removal walk.

#include "registry_script.h"

#include "objbase.h"
#include "windows.h"
#include "winreg.h"

#include <cwctype>
#include <optional>

namespace qv::com {
namespace {

struct Node {
    enum Flag { kPlain, kNoRemove, kForceRemove, kDelete } flag = kPlain;
    bool is_value = false;  // "val name = ..."
    std::wstring name;
    bool has_data = false;
    DWORD type = REG_SZ;
    std::vector<BYTE> data;
    std::vector<Node> children;
};

struct Root {
    HKEY hive;
    std::vector<Node> keys;
};

struct Token {
    enum Kind { kWord, kQuoted, kOpen, kClose, kEquals, kEnd } kind;
    std::wstring text;
};

bool Replace(const std::wstring& script, const Replacements& replacements, std::wstring* out) {
    out->clear();
    for (size_t i = 0; i < script.size(); ++i) {
        if (script[i] != L'%') {
            *out += script[i];
            continue;
        }
        size_t end = script.find(L'%', i + 1);
        if (end == std::wstring::npos) return false;
        std::wstring name = script.substr(i + 1, end - i - 1);
        if (name.empty()) {
            *out += L'%';
        } else {
            auto it = replacements.find(name);
            if (it == replacements.end()) return false;
            *out += it->second;
        }
        i = end;
    }
    return true;
}

class Parser {
public:
    explicit Parser(const std::wstring& text) : text_(text) {}

    bool Parse(std::vector<Root>* roots) {
        for (;;) {
            Token t = Next();
            if (t.kind == Token::kEnd) return true;
            if (t.kind != Token::kWord) return false;
            std::optional<HKEY> hive = Hive(t.text);
            if (!hive || Next().kind != Token::kOpen) return false;
            Root root{*hive, {}};
            if (!Body(&root.keys)) return false;
            roots->push_back(std::move(root));
        }
    }

private:
    static bool Same(const std::wstring& a, const wchar_t* b) {
        return NoCaseLess{}(a, b) == false && NoCaseLess{}(b, a) == false;
    }
    static std::optional<HKEY> Hive(const std::wstring& name) {
        if (Same(name, L"HKCR") || Same(name, L"HKEY_CLASSES_ROOT")) return HKEY_CLASSES_ROOT;
        if (Same(name, L"HKLM") || Same(name, L"HKEY_LOCAL_MACHINE")) return HKEY_LOCAL_MACHINE;
        if (Same(name, L"HKCU") || Same(name, L"HKEY_CURRENT_USER")) return HKEY_CURRENT_USER;
        if (Same(name, L"HKU") || Same(name, L"HKEY_USERS")) return HKEY_USERS;
        return std::nullopt;
    }

    Token Next() {
        if (peeked_) {
            Token t = *peeked_;
            peeked_.reset();
            return t;
        }
        while (pos_ < text_.size() && (std::iswspace(text_[pos_]) || text_[pos_] == 0xFEFF)) ++pos_;
        if (pos_ >= text_.size()) return {Token::kEnd, {}};
        wchar_t c = text_[pos_];
        if (c == L'{' && LooksLikeGuid()) {
            Token t{Token::kWord, text_.substr(pos_, 38)};
            pos_ += 38;
            return t;
        }
        if (c == L'{') return ++pos_, Token{Token::kOpen, {}};
        if (c == L'}') return ++pos_, Token{Token::kClose, {}};
        if (c == L'=') return ++pos_, Token{Token::kEquals, {}};
        if (c == L'\'') {
            std::wstring s;
            for (++pos_; pos_ < text_.size(); ++pos_) {
                if (text_[pos_] == L'\'') {
                    if (pos_ + 1 < text_.size() && text_[pos_ + 1] == L'\'') {
                        s += L'\'';
                        ++pos_;
                        continue;
                    }
                    ++pos_;
                    return {Token::kQuoted, s};
                }
                s += text_[pos_];
            }
            bad_ = true;
            return {Token::kEnd, {}};
        }
        std::wstring word;
        while (pos_ < text_.size() && !std::iswspace(text_[pos_]) && text_[pos_] != L'=' && text_[pos_] != L'}' &&
               text_[pos_] != L'\'' && text_[pos_] != L'{')
            word += text_[pos_++];
        return {Token::kWord, word};
    }
    // A bare GUID key name such as {D7B353ED-...} is a word, not an opening brace.
    bool LooksLikeGuid() const {
        return pos_ + 38 <= text_.size() && text_[pos_ + 37] == L'}' && text_[pos_ + 9] == L'-';
    }
    Token Peek() {
        if (!peeked_) peeked_ = Next();
        return *peeked_;
    }

    bool Name(std::wstring* name) {
        Token t = Next();
        if (t.kind != Token::kWord && t.kind != Token::kQuoted) return false;
        *name = t.text;
        return !name->empty() || t.kind == Token::kQuoted;
    }

    bool Value(Node* node) {
        Token type = Next();
        if (type.kind != Token::kWord) return false;
        Token value = Next();
        if (value.kind != Token::kQuoted && value.kind != Token::kWord) return false;
        node->has_data = true;
        if (Same(type.text, L"s") || Same(type.text, L"e")) {
            node->type = Same(type.text, L"s") ? REG_SZ : REG_EXPAND_SZ;
            const auto* bytes = reinterpret_cast<const BYTE*>(value.text.c_str());
            node->data.assign(bytes, bytes + (value.text.size() + 1) * sizeof(wchar_t));
        } else if (Same(type.text, L"d")) {
            node->type = REG_DWORD;
            wchar_t* end = nullptr;
            unsigned long long number = std::wcstoull(value.text.c_str(), &end, 0);
            if (value.text.empty() || *end != L'\0' || number > 0xFFFFFFFFull) return false;
            DWORD v = static_cast<DWORD>(number);
            const auto* bytes = reinterpret_cast<const BYTE*>(&v);
            node->data.assign(bytes, bytes + sizeof(v));
        } else if (Same(type.text, L"b")) {
            node->type = REG_BINARY;
            if (value.text.size() % 2 != 0) return false;
            for (size_t i = 0; i < value.text.size(); i += 2) {
                wchar_t pair[3] = {value.text[i], value.text[i + 1], 0};
                wchar_t* end = nullptr;
                unsigned long byte = std::wcstoul(pair, &end, 16);
                if (*end != L'\0') return false;
                node->data.push_back(static_cast<BYTE>(byte));
            }
        } else {
            return false;
        }
        return true;
    }

    bool Body(std::vector<Node>* nodes) {
        for (;;) {
            Token t = Next();
            if (bad_) return false;
            if (t.kind == Token::kClose) return true;
            if (t.kind != Token::kWord && t.kind != Token::kQuoted) return false;
            Node node;
            if (t.kind == Token::kWord && Same(t.text, L"val")) {
                node.is_value = true;
                if (!Name(&node.name) || Next().kind != Token::kEquals || !Value(&node)) return false;
                nodes->push_back(std::move(node));
                continue;
            }
            if (t.kind == Token::kWord &&
                (Same(t.text, L"NoRemove") || Same(t.text, L"ForceRemove") || Same(t.text, L"Delete"))) {
                node.flag = Same(t.text, L"NoRemove")      ? Node::kNoRemove
                            : Same(t.text, L"ForceRemove") ? Node::kForceRemove
                                                           : Node::kDelete;
                if (!Name(&node.name)) return false;
            } else {
                node.name = t.text;
            }
            if (node.name.empty() || node.name.find(L'\\') != std::wstring::npos) return false;
            if (Peek().kind == Token::kEquals) {
                Next();
                if (!Value(&node)) return false;
            }
            if (Peek().kind == Token::kOpen) {
                Next();
                if (!Body(&node.children)) return false;
            }
            nodes->push_back(std::move(node));
        }
    }

    const std::wstring& text_;
    size_t pos_ = 0;
    bool bad_ = false;
    std::optional<Token> peeked_;
};

HRESULT FromWin32(LONG rc) { return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<ULONG>(rc)); }

HRESULT Register(HKEY parent, const std::vector<Node>& nodes) {
    for (const auto& node : nodes) {
        if (node.is_value) {
            LONG rc = RegSetValueExW(parent, node.name.c_str(), 0, node.type, node.data.data(),
                                     static_cast<DWORD>(node.data.size()));
            if (rc != ERROR_SUCCESS) return FromWin32(rc);
            continue;
        }
        if (node.flag == Node::kDelete || node.flag == Node::kForceRemove) {
            LONG rc = RegDeleteTreeW(parent, node.name.c_str());
            if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return FromWin32(rc);
            if (node.flag == Node::kDelete) continue;
        }
        HKEY key = nullptr;
        LONG rc = RegCreateKeyExW(parent, node.name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        if (rc != ERROR_SUCCESS) return FromWin32(rc);
        HRESULT hr = S_OK;
        if (node.has_data) {
            rc = RegSetValueExW(key, nullptr, 0, node.type, node.data.data(), static_cast<DWORD>(node.data.size()));
            hr = FromWin32(rc);
        }
        if (SUCCEEDED(hr)) hr = Register(key, node.children);
        RegCloseKey(key);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT Unregister(HKEY parent, const std::vector<Node>& nodes) {
    for (const auto& node : nodes) {
        if (node.is_value) {
            RegDeleteValueW(parent, node.name.c_str());
            continue;
        }
        if (node.flag == Node::kDelete) continue;
        if (node.flag == Node::kNoRemove) {
            HKEY key = nullptr;
            if (RegOpenKeyExW(parent, node.name.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) continue;
            HRESULT hr = Unregister(key, node.children);
            RegCloseKey(key);
            if (FAILED(hr)) return hr;
            continue;
        }
        LONG rc = RegDeleteTreeW(parent, node.name.c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return FromWin32(rc);
    }
    return S_OK;
}

}  // namespace

bool NoCaseLess::operator()(const std::wstring& a, const std::wstring& b) const {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        wint_t x = std::towupper(a[i]), y = std::towupper(b[i]);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

HRESULT ApplyRegistryScript(const std::wstring& script, const Replacements& replacements, bool registering) {
    std::wstring text;
    if (!Replace(script, replacements, &text)) return DISP_E_EXCEPTION;
    std::vector<Root> roots;
    if (!Parser(text).Parse(&roots)) return DISP_E_EXCEPTION;
    for (const auto& root : roots) {
        HRESULT hr = registering ? Register(root.hive, root.keys) : Unregister(root.hive, root.keys);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

std::wstring DecodeScriptText(const std::string& bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::wstring text;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1])
                                                                                    << 8);
        return text;
    }
    int size = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(std::max(size, 0)), L'\0');
    if (size > 0) MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
    return text;
}

}  // namespace qv::com
