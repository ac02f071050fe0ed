// The MOF lexer.
#include "mof_lexer.h"

#include <cstdio>
#include <cwctype>

namespace qv::wbem::mof {

namespace {

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsIdentStart(wchar_t c) { return std::iswalpha(c) || c == L'_' || c > 0x7f; }
bool IsIdentChar(wchar_t c) { return IsIdentStart(c) || IsDigit(c); }

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

class Lexer {
public:
    Lexer(const std::wstring& text, std::vector<Token>* tokens, LexError* error)
        : t_(text), tokens_(tokens), error_(error) {}

    bool Run() {
        while (true) {
            if (!SkipSpace()) return false;
            if (i_ >= t_.size()) {
                Push(TokenKind::End);
                return true;
            }
            wchar_t c = t_[i_];
            bool ok;
            if (c == L'"')
                ok = String();
            else if (c == L'\'')
                ok = Char();
            else if (c == L'$')
                ok = Alias();
            else if (StartsNumber())
                ok = Number();
            else if (IsIdentStart(c))
                ok = Identifier();
            else if (std::wstring(L"{}[]();,:=#").find(c) != std::wstring::npos) {
                Token& tok = Push(TokenKind::Punct);
                tok.text = c;
                ++i_;
                ok = true;
            } else {
                ok = Fail("unexpected character '" + Printable(c) + "'");
            }
            if (!ok) return false;
        }
    }

private:
    // A digit, or a sign or point followed by one (a sign may also precede ".5").
    bool StartsNumber() const {
        auto digitAt = [&](size_t k) { return k < t_.size() && IsDigit(t_[k]); };
        wchar_t c = t_[i_];
        if (IsDigit(c)) return true;
        if (c == L'.') return digitAt(i_ + 1);
        if (c != L'-' && c != L'+') return false;
        return digitAt(i_ + 1) || (i_ + 1 < t_.size() && t_[i_ + 1] == L'.' && digitAt(i_ + 2));
    }

    static std::string Printable(wchar_t c) {
        if (c >= 0x20 && c < 0x7f) return std::string(1, static_cast<char>(c));
        char buf[16];
        std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
        return buf;
    }

    bool Fail(const std::string& reason) {
        error_->line = line_;
        error_->reason = reason;
        return false;
    }

    Token& Push(TokenKind kind) {
        tokens_->push_back({});
        tokens_->back().kind = kind;
        tokens_->back().line = line_;
        return tokens_->back();
    }

    bool SkipSpace() {
        while (i_ < t_.size()) {
            wchar_t c = t_[i_];
            if (c == L'\n') {
                ++line_;
                ++i_;
            } else if (std::iswspace(c) || c == 0xFEFF) {
                ++i_;
            } else if (c == L'/' && i_ + 1 < t_.size() && t_[i_ + 1] == L'/') {
                while (i_ < t_.size() && t_[i_] != L'\n') ++i_;
            } else if (c == L'/' && i_ + 1 < t_.size() && t_[i_ + 1] == L'*') {
                int start = line_;
                i_ += 2;
                while (i_ + 1 < t_.size() && !(t_[i_] == L'*' && t_[i_ + 1] == L'/')) {
                    if (t_[i_] == L'\n') ++line_;
                    ++i_;
                }
                if (i_ + 1 >= t_.size()) {
                    line_ = start;
                    return Fail("unterminated comment");
                }
                i_ += 2;
            } else {
                return true;
            }
        }
        return true;
    }

    // One escaped or plain character of a string or char literal; the opening quote is behind us.
    bool Element(wchar_t* out) {
        wchar_t c = t_[i_++];
        if (c == L'\n') return Fail("line break inside a literal");
        if (c != L'\\') {
            *out = c;
            return true;
        }
        if (i_ >= t_.size()) return Fail("unterminated literal");
        wchar_t e = t_[i_++];
        switch (e) {
        case L'b': *out = L'\b'; return true;
        case L't': *out = L'\t'; return true;
        case L'n': *out = L'\n'; return true;
        case L'f': *out = L'\f'; return true;
        case L'r': *out = L'\r'; return true;
        case L'"': *out = L'"'; return true;
        case L'\'': *out = L'\''; return true;
        case L'\\': *out = L'\\'; return true;
        case L'x':
        case L'X': {
            unsigned value = 0;
            int digits = 0;
            while (digits < 4 && i_ < t_.size() && HexDigit(t_[i_]) >= 0) {
                value = value * 16 + static_cast<unsigned>(HexDigit(t_[i_++]));
                ++digits;
            }
            if (digits == 0) return Fail("\\x escape without hexadecimal digits");
            *out = static_cast<wchar_t>(value);
            return true;
        }
        default: return Fail("unknown escape sequence '\\" + Printable(e) + "'");
        }
    }

    bool String() {
        Token& tok = Push(TokenKind::String);
        size_t index = tokens_->size() - 1;
        ++i_;
        std::wstring value;
        while (true) {
            if (i_ >= t_.size()) return Fail("unterminated string");
            if (t_[i_] == L'"') break;
            wchar_t c;
            if (!Element(&c)) return false;
            value += c;
        }
        ++i_;
        (void)tok;
        (*tokens_)[index].text = std::move(value);
        return true;
    }

    bool Char() {
        ++i_;
        if (i_ >= t_.size()) return Fail("unterminated character literal");
        if (t_[i_] == L'\'') return Fail("empty character literal (a quote is written '\\'')");
        wchar_t c;
        if (!Element(&c)) return false;
        if (i_ >= t_.size() || t_[i_] != L'\'') return Fail("unterminated character literal");
        ++i_;
        Token& tok = Push(TokenKind::Char);
        tok.text = c;
        tok.magnitude = static_cast<uint64_t>(c);
        return true;
    }

    bool Alias() {
        ++i_;
        size_t start = i_;
        while (i_ < t_.size() && IsIdentChar(t_[i_])) ++i_;
        if (i_ == start) return Fail("'$' without an alias name");
        Push(TokenKind::Alias).text = t_.substr(start, i_ - start);
        return true;
    }

    bool Identifier() {
        size_t start = i_;
        while (i_ < t_.size() && IsIdentChar(t_[i_])) ++i_;
        Push(TokenKind::Identifier).text = t_.substr(start, i_ - start);
        return true;
    }

    bool Number() {
        size_t start = i_;
        bool negative = false;
        if (t_[i_] == L'-' || t_[i_] == L'+') negative = t_[i_++] == L'-';
        if (i_ + 1 < t_.size() && t_[i_] == L'0' && (t_[i_ + 1] == L'x' || t_[i_ + 1] == L'X')) {
            i_ += 2;
            size_t first = i_;
            while (i_ < t_.size() && HexDigit(t_[i_]) >= 0) ++i_;
            if (i_ == first) return Fail("hexadecimal number without digits");
            if (i_ < t_.size() && IsIdentChar(t_[i_])) return Fail("malformed hexadecimal number");
            return Integer(first, i_, 16, negative);
        }
        size_t first = i_;
        while (i_ < t_.size() && IsDigit(t_[i_])) ++i_;
        size_t last = i_;
        bool real = false;
        if (i_ < t_.size() && t_[i_] == L'.') {
            real = true;
            ++i_;
            while (i_ < t_.size() && IsDigit(t_[i_])) ++i_;
        }
        if (i_ < t_.size() && (t_[i_] == L'e' || t_[i_] == L'E')) {
            real = true;
            ++i_;
            if (i_ < t_.size() && (t_[i_] == L'-' || t_[i_] == L'+')) ++i_;
            size_t expStart = i_;
            while (i_ < t_.size() && IsDigit(t_[i_])) ++i_;
            if (i_ == expStart) return Fail("malformed real number");
        }
        if (real) {
            if (i_ < t_.size() && IsIdentChar(t_[i_])) return Fail("malformed real number");
            Push(TokenKind::Real).text = t_.substr(start, i_ - start);
            return true;
        }
        if (i_ < t_.size() && (t_[i_] == L'b' || t_[i_] == L'B') && !(i_ + 1 < t_.size() && IsIdentChar(t_[i_ + 1]))) {
            for (size_t k = first; k < last; ++k)
                if (t_[k] != L'0' && t_[k] != L'1') return Fail("malformed binary number");
            ++i_;
            return Integer(first, last, 2, negative);
        }
        if (i_ < t_.size() && IsIdentChar(t_[i_])) return Fail("malformed number");
        if (last - first > 1 && t_[first] == L'0') {
            for (size_t k = first; k < last; ++k)
                if (t_[k] > L'7') return Fail("malformed octal number");
            return Integer(first + 1, last, 8, negative);
        }
        return Integer(first, last, 10, negative);
    }

    // Digits t_[first, last) of one base (already checked) as an integer token.
    bool Integer(size_t first, size_t last, unsigned base, bool negative) {
        uint64_t value = 0;
        for (size_t k = first; k < last; ++k) {
            uint64_t digit = static_cast<uint64_t>(HexDigit(t_[k]));
            if (value > (UINT64_MAX - digit) / base) return Fail("integer too large for 64 bits");
            value = value * base + digit;
        }
        Token& tok = Push(TokenKind::Integer);
        tok.magnitude = value;
        tok.negative = negative;
        return true;
    }

    const std::wstring& t_;
    std::vector<Token>* tokens_;
    LexError* error_;
    size_t i_ = 0;
    int line_ = 1;
};

}  // namespace

bool Tokenize(const std::wstring& text, std::vector<Token>* tokens, LexError* error) {
    tokens->clear();
    return Lexer(text, tokens, error).Run();
}

}  // namespace qv::wbem::mof
