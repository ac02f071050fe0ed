// Evaluating a WQL condition against an object, with SQL's three-valued logic.

#include "qv_wql.h"

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <cwctype>
#include <vector>

namespace qv::wql {
namespace {

enum class Truth { kFalse, kTrue, kUnknown };

Truth Not(Truth t) { return t == Truth::kUnknown ? t : t == Truth::kTrue ? Truth::kFalse : Truth::kTrue; }

// A value ready for comparison. Integers are held wide enough for every sint64 and uint64 value.
struct Value {
    enum class Kind { kNull, kString, kInteger, kReal, kBoolean, kOther } kind = Kind::kNull;
    std::wstring text;
    __int128 integer = 0;
    double real = 0;
    bool boolean = false;
};

bool ParseInteger(const std::wstring& text, __int128* out) {
    if (text.empty() || text.size() > 24) return false;
    std::string narrow;
    for (wchar_t c : text) {
        if (c > 0x7F) return false;
        narrow += static_cast<char>(c);
    }
    char* end = nullptr;
    errno = 0;
    if (narrow[0] == '-') {
        long long v = std::strtoll(narrow.c_str(), &end, 10);
        if (*end != '\0' || errno == ERANGE) return false;
        *out = v;
    } else {
        unsigned long long v = std::strtoull(narrow.c_str(), &end, 10);
        if (*end != '\0' || errno == ERANGE) return false;
        *out = v;
    }
    return true;
}

Value FromVariant(const VARIANT& v, CIMTYPE type) {
    Value value;
    if (v.vt & VT_ARRAY) {
        value.kind = Value::Kind::kOther;
        return value;
    }
    switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL: break;
    case VT_BSTR: {
        std::wstring text(v.bstrVal != nullptr ? v.bstrVal : L"", SysStringLen(v.bstrVal));
        // 64-bit integers travel as text.
        if ((type == CIM_SINT64 || type == CIM_UINT64) && ParseInteger(text, &value.integer)) {
            value.kind = Value::Kind::kInteger;
        } else {
            value.kind = Value::Kind::kString;
            value.text = std::move(text);
        }
        break;
    }
    case VT_BOOL:
        value.kind = Value::Kind::kBoolean;
        value.boolean = v.boolVal != VARIANT_FALSE;
        break;
    case VT_I1: value.kind = Value::Kind::kInteger, value.integer = v.cVal; break;
    case VT_UI1: value.kind = Value::Kind::kInteger, value.integer = v.bVal; break;
    case VT_I2: value.kind = Value::Kind::kInteger, value.integer = v.iVal; break;
    case VT_UI2: value.kind = Value::Kind::kInteger, value.integer = v.uiVal; break;
    case VT_I4:
    case VT_INT:
        value.kind = Value::Kind::kInteger;
        // uint32 properties travel as VT_I4: read them back unsigned.
        value.integer = type == CIM_UINT32 ? static_cast<__int128>(static_cast<uint32_t>(v.lVal)) : v.lVal;
        break;
    case VT_UI4:
    case VT_UINT: value.kind = Value::Kind::kInteger, value.integer = v.ulVal; break;
    case VT_I8: value.kind = Value::Kind::kInteger, value.integer = v.llVal; break;
    case VT_UI8: value.kind = Value::Kind::kInteger, value.integer = v.ullVal; break;
    case VT_R4: value.kind = Value::Kind::kReal, value.real = v.fltVal; break;
    case VT_R8: value.kind = Value::Kind::kReal, value.real = v.dblVal; break;
    default: value.kind = Value::Kind::kOther; break;
    }
    return value;
}

Value FromLiteral(const Literal& literal) {
    Value value;
    switch (literal.kind) {
    case Literal::Kind::kNull: break;
    case Literal::Kind::kString: value.kind = Value::Kind::kString, value.text = literal.text; break;
    case Literal::Kind::kInteger: value.kind = Value::Kind::kInteger, value.integer = literal.integer; break;
    case Literal::Kind::kReal: value.kind = Value::Kind::kReal, value.real = literal.real; break;
    case Literal::Kind::kBoolean: value.kind = Value::Kind::kBoolean, value.boolean = literal.boolean; break;
    }
    return value;
}

// Reads a property, following dotted paths into embedded objects. A missing property reads as NULL.
Value ReadProperty(IWbemClassObject* object, const std::wstring& path, int depth = 0) {
    size_t dot = path.find(L'.');
    std::wstring head = path.substr(0, dot);
    VARIANT v;
    VariantInit(&v);
    CIMTYPE type = 0;
    Value value;
    if (object == nullptr || depth > 16 || FAILED(object->Get(head.c_str(), 0, &v, &type, nullptr))) return value;
    if (dot == std::wstring::npos) {
        value = FromVariant(v, type);
    } else if (v.vt == VT_UNKNOWN && v.punkVal != nullptr) {
        IWbemClassObject* embedded = nullptr;
        if (SUCCEEDED(v.punkVal->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void**>(&embedded)))) {
            value = ReadProperty(embedded, path.substr(dot + 1), depth + 1);
            embedded->Release();
        }
    }
    VariantClear(&v);
    return value;
}

Value Evaluate(const Operand& operand, IWbemClassObject* object) {
    return operand.is_property ? ReadProperty(object, operand.property) : FromLiteral(operand.literal);
}

int CompareText(const std::wstring& a, const std::wstring& b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        wint_t x = std::towlower(static_cast<wint_t>(a[i]));
        wint_t y = std::towlower(static_cast<wint_t>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

template <typename T>
int Order(T a, T b) {
    return a < b ? -1 : b < a ? 1 : 0;
}

// Orders two values; false when they cannot be compared.
bool Order(Value a, Value b, int* order) {
    using K = Value::Kind;
    // Text that spells a number compares with numbers (64-bit values and quoted numbers).
    for (Value* side : {&a, &b}) {
        Value* other = side == &a ? &b : &a;
        __int128 parsed;
        if (side->kind == K::kString && (other->kind == K::kInteger || other->kind == K::kReal) &&
            ParseInteger(side->text, &parsed)) {
            side->kind = K::kInteger;
            side->integer = parsed;
        }
    }
    if (a.kind == K::kBoolean && b.kind == K::kInteger) a = {K::kInteger, L"", a.boolean ? 1 : 0};
    if (b.kind == K::kBoolean && a.kind == K::kInteger) b = {K::kInteger, L"", b.boolean ? 1 : 0};
    if (a.kind == K::kString && b.kind == K::kString)
        *order = CompareText(a.text, b.text);
    else if (a.kind == K::kInteger && b.kind == K::kInteger)
        *order = Order(a.integer, b.integer);
    else if (a.kind == K::kBoolean && b.kind == K::kBoolean)
        *order = Order(a.boolean, b.boolean);
    else if ((a.kind == K::kInteger || a.kind == K::kReal) && (b.kind == K::kInteger || b.kind == K::kReal))
        *order = Order(a.kind == K::kReal ? a.real : static_cast<double>(a.integer),
                       b.kind == K::kReal ? b.real : static_cast<double>(b.integer));
    else
        return false;
    return true;
}

Truth Compare(const Condition& c, IWbemClassObject* object) {
    Value a = Evaluate(c.a, object);
    Value b = Evaluate(c.b, object);
    bool a_null = a.kind == Value::Kind::kNull, b_null = b.kind == Value::Kind::kNull;
    // "= NULL" and "<> NULL" against a literal NULL read as IS NULL and IS NOT NULL.
    if (!c.b.is_property && c.b.literal.kind == Literal::Kind::kNull &&
        (c.op == Comparison::kEqual || c.op == Comparison::kNotEqual))
        return (a_null == (c.op == Comparison::kEqual)) ? Truth::kTrue : Truth::kFalse;
    if (a_null || b_null) return Truth::kUnknown;
    if (c.op == Comparison::kLike) {
        if (a.kind != Value::Kind::kString || b.kind != Value::Kind::kString) return Truth::kUnknown;
        return Like(a.text, b.text) ? Truth::kTrue : Truth::kFalse;
    }
    int order = 0;
    if (!Order(a, b, &order)) return Truth::kUnknown;
    bool result = false;
    switch (c.op) {
    case Comparison::kEqual: result = order == 0; break;
    case Comparison::kNotEqual: result = order != 0; break;
    case Comparison::kLess: result = order < 0; break;
    case Comparison::kLessEqual: result = order <= 0; break;
    case Comparison::kGreater: result = order > 0; break;
    case Comparison::kGreaterEqual: result = order >= 0; break;
    case Comparison::kLike: break;
    }
    return result ? Truth::kTrue : Truth::kFalse;
}

bool OwnClassIs(IWbemClassObject* object, const std::wstring& name) {
    VARIANT v;
    VariantInit(&v);
    bool same = object != nullptr && SUCCEEDED(object->Get(L"__CLASS", 0, &v, nullptr, nullptr)) && v.vt == VT_BSTR &&
                CompareText(std::wstring(v.bstrVal, SysStringLen(v.bstrVal)), name) == 0;
    VariantClear(&v);
    return same;
}

Truth Evaluate(const Condition& c, IWbemClassObject* object, IsAFunction is_a) {
    switch (c.kind) {
    case Condition::Kind::kAnd: {
        Truth l = Evaluate(*c.left, object, is_a);
        if (l == Truth::kFalse) return l;
        Truth r = Evaluate(*c.right, object, is_a);
        return r == Truth::kFalse ? r : (l == Truth::kTrue && r == Truth::kTrue) ? Truth::kTrue : Truth::kUnknown;
    }
    case Condition::Kind::kOr: {
        Truth l = Evaluate(*c.left, object, is_a);
        if (l == Truth::kTrue) return l;
        Truth r = Evaluate(*c.right, object, is_a);
        return r == Truth::kTrue ? r : (l == Truth::kFalse && r == Truth::kFalse) ? Truth::kFalse : Truth::kUnknown;
    }
    case Condition::Kind::kNot: return Not(Evaluate(*c.left, object, is_a));
    case Condition::Kind::kIsNull:
    case Condition::Kind::kIsNotNull: {
        bool null = Evaluate(c.a, object).kind == Value::Kind::kNull;
        return (null == (c.kind == Condition::Kind::kIsNull)) ? Truth::kTrue : Truth::kFalse;
    }
    case Condition::Kind::kIsA: {
        // The property holds an embedded object; ask whether it is of (or derives from) the class.
        size_t dot = c.a.property.rfind(L'.');
        VARIANT v;
        VariantInit(&v);
        Truth result = Truth::kUnknown;
        IWbemClassObject* holder = object;
        if (dot == std::wstring::npos && holder != nullptr &&
            SUCCEEDED(holder->Get(c.a.property.c_str(), 0, &v, nullptr, nullptr)) && v.vt == VT_UNKNOWN &&
            v.punkVal != nullptr) {
            IWbemClassObject* embedded = nullptr;
            if (SUCCEEDED(v.punkVal->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void**>(&embedded)))) {
                bool yes = is_a != nullptr ? is_a(embedded, c.b.literal.text) : OwnClassIs(embedded, c.b.literal.text);
                result = yes ? Truth::kTrue : Truth::kFalse;
                embedded->Release();
            }
        }
        VariantClear(&v);
        return result;
    }
    case Condition::Kind::kCompare: return Compare(c, object);
    }
    return Truth::kUnknown;
}

}  // namespace

bool Matches(const Query& query, IWbemClassObject* object, IsAFunction is_a) {
    return query.where == nullptr || Evaluate(*query.where, object, is_a) == Truth::kTrue;
}

bool Like(const std::wstring& text, const std::wstring& pattern) {
    // Dynamic programming over (pattern position, text position): linear memory, no backtracking blow-up.
    auto lower = [](wchar_t c) { return std::towlower(static_cast<wint_t>(c)); };
    std::vector<char> reach(text.size() + 1, 0), next(text.size() + 1, 0);
    reach[0] = 1;
    for (size_t p = 0; p < pattern.size();) {
        wchar_t c = pattern[p];
        std::fill(next.begin(), next.end(), 0);
        if (c == L'%') {
            char any = 0;
            for (size_t t = 0; t <= text.size(); ++t) next[t] = any = static_cast<char>(any | reach[t]);
            ++p;
        } else {
            // One character: a literal, '_' or a [set].
            size_t end = p + 1;
            bool negate = false;
            std::wstring set;
            bool is_set = false;
            if (c == L'[') {
                size_t close = pattern.find(L']', p + 2);
                if (close != std::wstring::npos) {
                    is_set = true;
                    size_t s = p + 1;
                    if (pattern[s] == L'^') negate = true, ++s;
                    set = pattern.substr(s, close - s);
                    end = close + 1;
                }
            }
            auto matches = [&](wchar_t t) {
                if (c == L'_') return true;
                if (!is_set) return lower(t) == lower(c);
                bool in = false;
                for (size_t i = 0; i < set.size() && !in; ++i) {
                    if (i + 2 < set.size() && set[i + 1] == L'-') {
                        in = lower(t) >= lower(set[i]) && lower(t) <= lower(set[i + 2]);
                        i += 2;
                    } else {
                        in = lower(t) == lower(set[i]);
                    }
                }
                return in != negate;
            };
            for (size_t t = 0; t < text.size(); ++t)
                if (reach[t] && matches(text[t])) next[t + 1] = 1;
            p = end;
        }
        reach.swap(next);
    }
    return reach[text.size()] != 0;
}

}  // namespace qv::wql
