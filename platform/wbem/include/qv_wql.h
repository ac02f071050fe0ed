// WQL, the query language of the instrumentation service: parsing a data or event query, and evaluating its
// WHERE condition against an object.
//
//   SELECT * | prop [, prop]... FROM class [WITHIN seconds] [WHERE condition]
//   condition: condition OR condition | condition AND condition | NOT condition | ( condition )
//            | operand op operand            op: = <> != < <= > >= LIKE
//            | prop IS [NOT] NULL | prop ISA 'class'
//   operand:  property (dotted for embedded objects: TargetInstance.Name) | 'text' | "text" | number | TRUE
//            | FALSE | NULL
// Keywords and property names are not case-sensitive; text comparisons ignore case, as WMI's do.
#pragma once

#include "wbemcli.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qv::wql {

struct Literal {
    enum class Kind { kNull, kString, kInteger, kReal, kBoolean } kind = Kind::kNull;
    std::wstring text;
    int64_t integer = 0;
    double real = 0;
    bool boolean = false;
};

struct Operand {
    bool is_property = false;
    std::wstring property;  // for a property; dotted paths name properties of embedded objects
    Literal literal;        // otherwise
};

enum class Comparison { kEqual, kNotEqual, kLess, kLessEqual, kGreater, kGreaterEqual, kLike };

struct Condition {
    enum class Kind { kAnd, kOr, kNot, kCompare, kIsNull, kIsNotNull, kIsA } kind = Kind::kCompare;
    std::unique_ptr<Condition> left, right;  // kAnd, kOr; kNot uses left
    Operand a, b;                            // kCompare; kIsNull/kIsNotNull/kIsA use a (kIsA: b is the class)
    Comparison op = Comparison::kEqual;
};

struct Query {
    bool select_all = true;
    std::vector<std::wstring> properties;  // the SELECT list when not *
    std::wstring class_name;
    std::optional<double> within;      // event queries: polling interval in seconds
    std::unique_ptr<Condition> where;  // null: every object

    // True when `name` is in the SELECT list (always for *), ignoring case.
    bool Selects(const std::wstring& name) const;
};

struct ParseError {
    size_t offset = 0;  // where in the text the parser stopped
    std::wstring message;
};

// Parses `text`. Returns WBEM_S_NO_ERROR, or WBEM_E_INVALID_QUERY with `error` filled.
HRESULT Parse(const std::wstring& text, Query* query, ParseError* error);

// Evaluates the WHERE condition of `query` for `object` (true when there is none). Comparisons involving
// NULL or a property the object lacks are unknown, and unknown counts as false, as in SQL.
// `is_a(object, class)` answers ISA; without it ISA compares the object's own class only.
using IsAFunction = bool (*)(IWbemClassObject* object, const std::wstring& class_name);
bool Matches(const Query& query, IWbemClassObject* object, IsAFunction is_a = nullptr);

// SQL LIKE with WMI's pattern characters: % any run, _ one character, [abc] [a-z] [^abc] a set; ignoring case.
bool Like(const std::wstring& text, const std::wstring& pattern);

}  // namespace qv::wql
