// The MOF parser: a recursive-descent reader over the lexer's tokens.
#include "mof_parser.h"

#include "qv_system_root.h"

#include <cwctype>

namespace qv::wbem::mof {

namespace {

constexpr int kMaxNesting = 16;

std::wstring Lower(const std::wstring& s) {
    std::wstring out = s;
    for (wchar_t& c : out) c = static_cast<wchar_t>(std::towlower(c));
    return out;
}

struct Failure {
    int line;
    std::string reason;
};

class Parser {
public:
    explicit Parser(const std::vector<Token>& tokens) : tokens_(tokens) {}

    void Mof(std::vector<Statement>* statements) {
        while (Peek().kind != TokenKind::End) {
            if (IsPunct(L"#")) {
                statements->push_back(PragmaStatement());
                continue;
            }
            if (IsWord(L"qualifier")) {
                SkipQualifierDeclaration();
                continue;
            }
            int line = Peek().line;
            std::vector<QualifierDecl> qualifiers;
            if (IsPunct(L"[")) qualifiers = QualifierList();
            Statement s;
            s.line = line;
            if (IsWord(L"class")) {
                s.kind = Statement::Kind::Class;
                s.cls = Class(std::move(qualifiers));
            } else if (IsWord(L"instance")) {
                s.kind = Statement::Kind::Instance;
                s.instance = Instance(std::move(qualifiers), 0);
                Expect(L";");
            } else {
                Fail("expected 'class', 'instance of', 'qualifier' or '#pragma'");
            }
            statements->push_back(std::move(s));
        }
    }

private:
    const Token& Peek(size_t ahead = 0) const {
        size_t k = pos_ + ahead;
        return k < tokens_.size() ? tokens_[k] : tokens_.back();
    }
    const Token& Take() {
        const Token& t = Peek();
        if (pos_ < tokens_.size() - 1) ++pos_;
        return t;
    }
    [[noreturn]] void Fail(const std::string& reason) const { throw Failure{Peek().line, reason + Near()}; }
    std::string Near() const {
        const Token& t = Peek();
        switch (t.kind) {
        case TokenKind::End: return " (at end of file)";
        case TokenKind::Identifier:
        case TokenKind::Punct: return " (near '" + qv::win::ToUtf8(t.text) + "')";
        case TokenKind::String: return " (near a string)";
        default: return "";
        }
    }
    bool IsPunct(const wchar_t* p) const { return Peek().kind == TokenKind::Punct && Peek().text == p; }
    bool IsWord(const wchar_t* w) const { return Peek().kind == TokenKind::Identifier && Lower(Peek().text) == w; }
    void Expect(const wchar_t* p) {
        if (!IsPunct(p)) Fail("expected '" + qv::win::ToUtf8(p) + "'");
        Take();
    }
    void ExpectWord(const wchar_t* w) {
        if (!IsWord(w)) Fail("expected '" + qv::win::ToUtf8(w) + "'");
        Take();
    }
    std::wstring Identifier(const char* what) {
        if (Peek().kind != TokenKind::Identifier) Fail(std::string("expected ") + what);
        return Take().text;
    }

    Statement PragmaStatement() {
        Statement s;
        s.kind = Statement::Kind::Pragma;
        s.line = Peek().line;
        Take();  // '#'
        if (!IsWord(L"pragma")) Fail("expected 'pragma' after '#'");
        Take();
        s.pragma.line = s.line;
        s.pragma.name = Lower(Identifier("a pragma name"));
        if (IsPunct(L"(")) {
            Take();
            while (!IsPunct(L")")) {
                if (Peek().kind == TokenKind::String) {
                    s.pragma.arguments.push_back(StringValue());
                } else if (Peek().kind == TokenKind::Identifier) {
                    Value v;
                    v.kind = Value::Kind::String;
                    v.line = Peek().line;
                    v.text = Take().text;
                    s.pragma.arguments.push_back(v);
                } else {
                    Fail("expected a string in the pragma's arguments");
                }
                if (!IsPunct(L",")) break;
                Take();
            }
            Expect(L")");
        }
        return s;
    }

    // qualifier Name : type [= value], scope(...), flavor(...);  accepted and not stored.
    void SkipQualifierDeclaration() {
        Take();
        int depth = 0;
        while (!(depth == 0 && IsPunct(L";"))) {
            if (Peek().kind == TokenKind::End) Fail("unterminated qualifier declaration");
            if (IsPunct(L"(") || IsPunct(L"{") || IsPunct(L"[")) ++depth;
            if (IsPunct(L")") || IsPunct(L"}") || IsPunct(L"]")) --depth;
            if (depth < 0) Fail("unbalanced brackets in a qualifier declaration");
            Take();
        }
        Take();
    }

    std::vector<QualifierDecl> QualifierList() {
        Expect(L"[");
        std::vector<QualifierDecl> list;
        while (true) {
            QualifierDecl q;
            q.line = Peek().line;
            q.name = Identifier("a qualifier name");
            if (IsPunct(L"(")) {
                Take();
                q.hasValue = true;
                q.value = ScalarValue(0);
                Expect(L")");
            } else if (IsPunct(L"{")) {
                q.hasValue = true;
                q.value = ArrayValue(0);
            }
            if (IsPunct(L":")) {
                Take();
                while (Peek().kind == TokenKind::Identifier) Flavor(&q);
            }
            list.push_back(std::move(q));
            if (IsPunct(L",")) {
                Take();
                continue;
            }
            Expect(L"]");
            return list;
        }
    }

    void Flavor(QualifierDecl* q) {
        std::wstring f = Lower(Take().text);
        if (f == L"toinstance") {
            q->flavor |= WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE;
            q->flavorMask |= WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE;
        } else if (f == L"tosubclass") {
            q->flavor |= WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS;
            q->flavorMask |= WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS;
        } else if (f == L"restricted") {
            q->flavor &= ~WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS;
            q->flavorMask |= WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS;
        } else if (f == L"disableoverride") {
            q->flavor |= WBEM_FLAVOR_NOT_OVERRIDABLE;
            q->flavorMask |= WBEM_FLAVOR_NOT_OVERRIDABLE;
        } else if (f == L"enableoverride") {
            q->flavor &= ~WBEM_FLAVOR_NOT_OVERRIDABLE;
            q->flavorMask |= WBEM_FLAVOR_NOT_OVERRIDABLE;
        } else if (f == L"amended") {
            q->flavor |= WBEM_FLAVOR_AMENDED;
            q->flavorMask |= WBEM_FLAVOR_AMENDED;
        } else if (f == L"notoinstance" || f == L"notosubclass" || f == L"translatable") {
            // accepted, no effect
        } else {
            pos_--;
            Fail("unknown qualifier flavor");
        }
    }

    Value StringValue() {
        Value v;
        v.kind = Value::Kind::String;
        v.line = Peek().line;
        while (Peek().kind == TokenKind::String) v.text += Take().text;  // adjacent literals concatenate
        return v;
    }

    Value ScalarValue(int depth) {
        Value v;
        v.line = Peek().line;
        const Token& t = Peek();
        switch (t.kind) {
        case TokenKind::String: return StringValue();
        case TokenKind::Integer:
            v.kind = Value::Kind::Integer;
            v.magnitude = t.magnitude;
            v.negative = t.negative;
            Take();
            return v;
        case TokenKind::Real:
            v.kind = Value::Kind::Real;
            v.text = t.text;
            Take();
            return v;
        case TokenKind::Char:
            v.kind = Value::Kind::Char;
            v.text = t.text;
            v.magnitude = t.magnitude;
            Take();
            return v;
        case TokenKind::Alias:
            v.kind = Value::Kind::Alias;
            v.text = t.text;
            Take();
            return v;
        case TokenKind::Identifier: {
            std::wstring w = Lower(t.text);
            if (w == L"true" || w == L"false") {
                v.kind = Value::Kind::Bool;
                v.boolean = w == L"true";
                Take();
                return v;
            }
            if (w == L"null") {
                v.kind = Value::Kind::Null;
                Take();
                return v;
            }
            if (w == L"instance") {
                v.kind = Value::Kind::Instance;
                v.instance = Instance({}, depth + 1);
                return v;
            }
            Fail("expected a value");
        }
        case TokenKind::Punct:
            if (IsPunct(L"[")) {
                std::vector<QualifierDecl> qualifiers = QualifierList();
                if (!IsWord(L"instance")) Fail("expected 'instance of' after qualifiers in a value");
                v.kind = Value::Kind::Instance;
                v.instance = Instance(std::move(qualifiers), depth + 1);
                return v;
            }
            Fail("expected a value");
        default: Fail("expected a value");
        }
    }

    Value ArrayValue(int depth) {
        Value v;
        v.kind = Value::Kind::Array;
        v.line = Peek().line;
        Expect(L"{");
        if (IsPunct(L"}")) {
            Take();
            return v;
        }
        while (true) {
            v.elements.push_back(ScalarValue(depth));
            if (IsPunct(L"}")) {
                Take();
                return v;
            }
            Expect(L",");
        }
    }

    Value Initializer(int depth) { return IsPunct(L"{") ? ArrayValue(depth) : ScalarValue(depth); }

    TypeDecl Type() {
        TypeDecl type;
        type.name = Identifier("a type");
        if (IsWord(L"ref")) {
            Take();
            type.isRef = true;
        }
        return type;
    }

    // Array brackets after a name: [] or [n].
    void ArraySuffix(PropertyDecl* p) {
        if (!IsPunct(L"[")) return;
        Take();
        p->isArray = true;
        if (Peek().kind == TokenKind::Integer) {
            const Token& t = Take();
            if (t.negative || t.magnitude > INT32_MAX) Fail("array size out of range");
            p->arraySize = static_cast<int64_t>(t.magnitude);
        }
        Expect(L"]");
    }

    std::shared_ptr<ClassDecl> Class(std::vector<QualifierDecl> qualifiers) {
        auto cls = std::make_shared<ClassDecl>();
        cls->line = Peek().line;
        cls->qualifiers = std::move(qualifiers);
        Take();  // class
        cls->name = Identifier("a class name");
        if (IsPunct(L":")) {
            Take();
            cls->superclass = Identifier("a superclass name");
        }
        if (IsWord(L"as")) {
            Take();
            if (Peek().kind != TokenKind::Alias) Fail("expected an alias ($name)");
            cls->alias = Take().text;
        }
        Expect(L"{");
        while (!IsPunct(L"}")) Feature(cls.get());
        Take();
        Expect(L";");
        return cls;
    }

    void Feature(ClassDecl* cls) {
        int line = Peek().line;
        std::vector<QualifierDecl> qualifiers;
        if (IsPunct(L"[")) qualifiers = QualifierList();
        TypeDecl type = Type();
        std::wstring name = Identifier("a property or method name");
        if (IsPunct(L"(")) {
            MethodDecl m;
            m.line = line;
            m.qualifiers = std::move(qualifiers);
            m.returnType = type;
            m.name = name;
            Take();
            while (!IsPunct(L")")) {
                PropertyDecl p;
                p.line = Peek().line;
                if (IsPunct(L"[")) p.qualifiers = QualifierList();
                p.type = Type();
                p.name = Identifier("a parameter name");
                ArraySuffix(&p);
                if (IsPunct(L"=")) {
                    Take();
                    p.hasDefault = true;
                    p.defaultValue = Initializer(0);
                }
                m.parameters.push_back(std::move(p));
                if (!IsPunct(L",")) break;
                Take();
            }
            Expect(L")");
            Expect(L";");
            cls->methods.push_back(std::move(m));
            return;
        }
        PropertyDecl p;
        p.line = line;
        p.qualifiers = std::move(qualifiers);
        p.type = type;
        p.name = name;
        ArraySuffix(&p);
        if (IsPunct(L"=")) {
            Take();
            p.hasDefault = true;
            p.defaultValue = Initializer(0);
        }
        Expect(L";");
        cls->properties.push_back(std::move(p));
    }

    std::shared_ptr<InstanceDecl> Instance(std::vector<QualifierDecl> qualifiers, int depth) {
        if (depth > kMaxNesting) Fail("embedded instances nested too deeply");
        auto instance = std::make_shared<InstanceDecl>();
        instance->line = Peek().line;
        instance->qualifiers = std::move(qualifiers);
        ExpectWord(L"instance");
        ExpectWord(L"of");
        instance->className = Identifier("a class name");
        if (IsWord(L"as")) {
            Take();
            if (Peek().kind != TokenKind::Alias) Fail("expected an alias ($name)");
            instance->alias = Take().text;
        }
        Expect(L"{");
        while (!IsPunct(L"}")) {
            PropertyValue pv;
            pv.line = Peek().line;
            if (IsPunct(L"[")) pv.qualifiers = QualifierList();
            pv.name = Identifier("a property name");
            Expect(L"=");
            pv.value = Initializer(depth);
            Expect(L";");
            instance->values.push_back(std::move(pv));
        }
        Take();
        return instance;
    }

    const std::vector<Token>& tokens_;
    size_t pos_ = 0;
};

}  // namespace

bool Parse(const std::wstring& text, std::vector<Statement>* statements, ParseError* error) {
    std::vector<Token> tokens;
    LexError lexError;
    if (!Tokenize(text, &tokens, &lexError)) {
        error->line = lexError.line;
        error->reason = lexError.reason;
        return false;
    }
    statements->clear();
    try {
        Parser(tokens).Mof(statements);
    } catch (const Failure& f) {
        error->line = f.line;
        error->reason = f.reason;
        return false;
    }
    return true;
}

}  // namespace qv::wbem::mof
