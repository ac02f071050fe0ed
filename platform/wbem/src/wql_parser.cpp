// WQL lexer and recursive-descent parser.

#include "qv_wql.h"

#include <cerrno>
#include <cstdlib>
#include <cwctype>

namespace qv::wql {
namespace {

enum class Token { kEnd, kIdentifier, kString, kInteger, kReal, kStar, kComma, kDot, kLeft, kRight, kOperator };

constexpr int kMaxDepth = 100;  // nesting of conditions; deeper text is refused rather than recursed into

bool SameWord(const std::wstring& a, const wchar_t* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != L'\0'; ++i)
        if (std::towupper(static_cast<wint_t>(a[i])) != static_cast<wint_t>(b[i])) return false;
    return i == a.size() && b[i] == L'\0';
}

class Parser {
public:
    Parser(const std::wstring& text, ParseError* error) : text_(text), error_(error) { Next(); }

    bool ParseQuery(Query* query) {
        if (!Keyword(L"SELECT")) return Fail(L"expected SELECT");
        if (token_ == Token::kStar) {
            Next();
        } else {
            query->select_all = false;
            do {
                std::wstring property;
                if (!Path(&property)) return false;
                query->properties.push_back(property);
            } while (Accept(Token::kComma));
        }
        if (!Keyword(L"FROM")) return Fail(L"expected FROM");
        if (token_ != Token::kIdentifier || IsReserved(value_)) return Fail(L"expected a class name after FROM");
        query->class_name = value_;
        Next();
        if (Keyword(L"WITHIN")) {
            if (token_ != Token::kInteger && token_ != Token::kReal) return Fail(L"expected seconds after WITHIN");
            query->within = token_ == Token::kInteger ? static_cast<double>(integer_) : real_;
            if (*query->within <= 0) return Fail(L"WITHIN needs a positive interval");
            Next();
        }
        if (Keyword(L"WHERE")) {
            query->where = Or(0);
            if (query->where == nullptr) return false;
        }
        if (token_ != Token::kEnd) return Fail(L"unexpected text after the query");
        return true;
    }

private:
    bool Fail(const std::wstring& message) {
        if (!failed_) {
            failed_ = true;
            error_->offset = token_start_;
            error_->message = message;
        }
        return false;
    }

    static bool IsReserved(const std::wstring& word) {
        for (const wchar_t* reserved : {L"SELECT", L"FROM", L"WHERE", L"AND", L"OR", L"NOT", L"LIKE", L"IS", L"NULL",
                                        L"ISA", L"WITHIN", L"TRUE", L"FALSE"})
            if (SameWord(word, reserved)) return true;
        return false;
    }

    bool Keyword(const wchar_t* word) {
        if (token_ != Token::kIdentifier || !SameWord(value_, word)) return false;
        Next();
        return true;
    }

    bool Accept(Token token) {
        if (token_ != token) return false;
        Next();
        return true;
    }

    bool Path(std::wstring* path) {
        if (token_ != Token::kIdentifier || IsReserved(value_)) return Fail(L"expected a property name");
        *path = value_;
        Next();
        while (Accept(Token::kDot)) {
            if (token_ != Token::kIdentifier || IsReserved(value_)) return Fail(L"expected a property after '.'");
            *path += L'.' + value_;
            Next();
        }
        return true;
    }

    bool OperandAt(Operand* operand) {
        switch (token_) {
        case Token::kString:
            operand->literal.kind = Literal::Kind::kString;
            operand->literal.text = value_;
            break;
        case Token::kInteger:
            operand->literal.kind = Literal::Kind::kInteger;
            operand->literal.integer = integer_;
            break;
        case Token::kReal:
            operand->literal.kind = Literal::Kind::kReal;
            operand->literal.real = real_;
            break;
        case Token::kIdentifier:
            if (SameWord(value_, L"TRUE") || SameWord(value_, L"FALSE")) {
                operand->literal.kind = Literal::Kind::kBoolean;
                operand->literal.boolean = SameWord(value_, L"TRUE");
            } else if (SameWord(value_, L"NULL")) {
                operand->literal.kind = Literal::Kind::kNull;
            } else {
                operand->is_property = true;
                return Path(&operand->property);
            }
            break;
        default: return Fail(L"expected a property or a value");
        }
        Next();
        return true;
    }

    std::unique_ptr<Condition> Or(int depth) {
        auto left = And(depth);
        while (left != nullptr && Keyword(L"OR")) {
            auto node = std::make_unique<Condition>();
            node->kind = Condition::Kind::kOr;
            node->left = std::move(left);
            node->right = And(depth);
            if (node->right == nullptr) return nullptr;
            left = std::move(node);
        }
        return left;
    }

    std::unique_ptr<Condition> And(int depth) {
        auto left = Not(depth);
        while (left != nullptr && Keyword(L"AND")) {
            auto node = std::make_unique<Condition>();
            node->kind = Condition::Kind::kAnd;
            node->left = std::move(left);
            node->right = Not(depth);
            if (node->right == nullptr) return nullptr;
            left = std::move(node);
        }
        return left;
    }

    std::unique_ptr<Condition> Not(int depth) {
        if (depth > kMaxDepth) {
            Fail(L"condition nested too deeply");
            return nullptr;
        }
        if (Keyword(L"NOT")) {
            auto node = std::make_unique<Condition>();
            node->kind = Condition::Kind::kNot;
            node->left = Not(depth + 1);
            return node->left == nullptr ? nullptr : std::move(node);
        }
        if (Accept(Token::kLeft)) {
            auto inner = Or(depth + 1);
            if (inner == nullptr) return nullptr;
            if (!Accept(Token::kRight)) {
                Fail(L"expected ')'");
                return nullptr;
            }
            return inner;
        }
        return Predicate();
    }

    std::unique_ptr<Condition> Predicate() {
        auto node = std::make_unique<Condition>();
        if (!OperandAt(&node->a)) return nullptr;
        if (Keyword(L"IS")) {
            bool negated = Keyword(L"NOT");
            if (!Keyword(L"NULL")) {
                Fail(L"expected NULL after IS");
                return nullptr;
            }
            if (!node->a.is_property) {
                Fail(L"IS NULL needs a property");
                return nullptr;
            }
            node->kind = negated ? Condition::Kind::kIsNotNull : Condition::Kind::kIsNull;
            return node;
        }
        if (Keyword(L"ISA")) {
            if (token_ != Token::kString || !node->a.is_property) {
                Fail(L"ISA needs a property and a class name in quotes");
                return nullptr;
            }
            node->kind = Condition::Kind::kIsA;
            node->b.literal.kind = Literal::Kind::kString;
            node->b.literal.text = value_;
            Next();
            return node;
        }
        if (Keyword(L"LIKE")) {
            node->op = Comparison::kLike;
        } else if (token_ == Token::kOperator) {
            node->op = op_;
            Next();
        } else {
            Fail(L"expected a comparison");
            return nullptr;
        }
        if (!OperandAt(&node->b)) return nullptr;
        if (!node->a.is_property && !node->b.is_property) {
            Fail(L"a comparison needs a property on one side");
            return nullptr;
        }
        return node;
    }

    // --- lexer -----------------------------------------------------------------------------------------------
    void Next() {
        while (pos_ < text_.size() && std::iswspace(static_cast<wint_t>(text_[pos_]))) ++pos_;
        token_start_ = pos_;
        value_.clear();
        if (pos_ >= text_.size()) {
            token_ = Token::kEnd;
            return;
        }
        wchar_t c = text_[pos_];
        if (std::iswalpha(static_cast<wint_t>(c)) || c == L'_') {
            while (pos_ < text_.size() && (std::iswalnum(static_cast<wint_t>(text_[pos_])) || text_[pos_] == L'_'))
                value_ += text_[pos_++];
            token_ = Token::kIdentifier;
            return;
        }
        if (c == L'\'' || c == L'"') return String(c);
        if (std::iswdigit(static_cast<wint_t>(c)) || ((c == L'-' || c == L'+') && pos_ + 1 < text_.size() &&
                                                      std::iswdigit(static_cast<wint_t>(text_[pos_ + 1]))))
            return Number();
        ++pos_;
        switch (c) {
        case L'*': token_ = Token::kStar; return;
        case L',': token_ = Token::kComma; return;
        case L'.': token_ = Token::kDot; return;
        case L'(': token_ = Token::kLeft; return;
        case L')': token_ = Token::kRight; return;
        case L'=':
            token_ = Token::kOperator;
            op_ = Comparison::kEqual;
            return;
        case L'!':
            if (pos_ < text_.size() && text_[pos_] == L'=') {
                ++pos_;
                token_ = Token::kOperator;
                op_ = Comparison::kNotEqual;
                return;
            }
            break;
        case L'<':
            token_ = Token::kOperator;
            op_ = Comparison::kLess;
            if (pos_ < text_.size() && text_[pos_] == L'=')
                ++pos_, op_ = Comparison::kLessEqual;
            else if (pos_ < text_.size() && text_[pos_] == L'>')
                ++pos_, op_ = Comparison::kNotEqual;
            return;
        case L'>':
            token_ = Token::kOperator;
            op_ = Comparison::kGreater;
            if (pos_ < text_.size() && text_[pos_] == L'=') ++pos_, op_ = Comparison::kGreaterEqual;
            return;
        default: break;
        }
        token_ = Token::kEnd;
        pos_ = token_start_;
        Fail(L"unexpected character");
        pos_ = text_.size();
    }

    // Quoted text; a backslash escapes the quote, another backslash, or stands for itself.
    void String(wchar_t quote) {
        ++pos_;
        while (pos_ < text_.size() && text_[pos_] != quote) {
            if (text_[pos_] == L'\\' && pos_ + 1 < text_.size() &&
                (text_[pos_ + 1] == quote || text_[pos_ + 1] == L'\\' || text_[pos_ + 1] == L'\'' ||
                 text_[pos_ + 1] == L'"'))
                ++pos_;
            value_ += text_[pos_++];
        }
        if (pos_ >= text_.size()) {
            token_ = Token::kEnd;
            Fail(L"text without its closing quote");
            return;
        }
        ++pos_;
        token_ = Token::kString;
    }

    void Number() {
        size_t start = pos_;
        if (text_[pos_] == L'-' || text_[pos_] == L'+') ++pos_;
        bool hex = pos_ + 1 < text_.size() && text_[pos_] == L'0' &&
                   (text_[pos_ + 1] == L'x' || text_[pos_ + 1] == L'X');
        if (hex) pos_ += 2;
        bool real = false;
        while (pos_ < text_.size()) {
            wchar_t c = text_[pos_];
            if (hex ? std::iswxdigit(static_cast<wint_t>(c)) : std::iswdigit(static_cast<wint_t>(c))) {
                ++pos_;
            } else if (!hex && (c == L'.' || c == L'e' || c == L'E')) {
                real = true;
                ++pos_;
                if ((c == L'e' || c == L'E') && pos_ < text_.size() && (text_[pos_] == L'-' || text_[pos_] == L'+'))
                    ++pos_;
            } else {
                break;
            }
        }
        std::string narrow;
        for (size_t i = start; i < pos_; ++i) narrow += static_cast<char>(text_[i]);
        char* end = nullptr;
        errno = 0;
        if (real) {
            real_ = std::strtod(narrow.c_str(), &end);
            token_ = Token::kReal;
        } else {
            integer_ = std::strtoll(narrow.c_str(), &end, hex ? 16 : 10);
            if (hex && narrow[0] == '-') integer_ = 0;  // a sign belongs to decimal numbers only
            token_ = Token::kInteger;
        }
        if (end == nullptr || *end != '\0' || errno == ERANGE || (hex && narrow[0] == '-') ||
            (pos_ < text_.size() && (std::iswalpha(static_cast<wint_t>(text_[pos_])) || text_[pos_] == L'_'))) {
            token_ = Token::kEnd;
            Fail(L"malformed number");
        }
    }

    const std::wstring& text_;
    ParseError* error_;
    size_t pos_ = 0;
    size_t token_start_ = 0;
    Token token_ = Token::kEnd;
    std::wstring value_;
    int64_t integer_ = 0;
    double real_ = 0;
    Comparison op_ = Comparison::kEqual;
    bool failed_ = false;

public:
    bool failed() const { return failed_; }
};

}  // namespace

bool Query::Selects(const std::wstring& name) const {
    if (select_all) return true;
    for (const auto& property : properties) {
        if (property.size() != name.size()) continue;
        bool same = true;
        for (size_t i = 0; same && i < name.size(); ++i)
            same = std::towlower(static_cast<wint_t>(property[i])) == std::towlower(static_cast<wint_t>(name[i]));
        if (same) return true;
    }
    return false;
}

HRESULT Parse(const std::wstring& text, Query* query, ParseError* error) {
    ParseError ignored;
    if (error == nullptr) error = &ignored;
    Query parsed;
    Parser parser(text, error);
    if (!parser.ParseQuery(&parsed) || parser.failed()) return WBEM_E_INVALID_QUERY;
    *query = std::move(parsed);
    return WBEM_S_NO_ERROR;
}

}  // namespace qv::wql
