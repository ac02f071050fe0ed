// The MOF syntax tree and its parser: pragmas, qualifier declarations, classes and instances.
//
// The parser checks syntax only; types, classes and values are checked when the statements are applied to
// a repository (mof_compiler.cpp).
#pragma once

#include "mof_lexer.h"
#include "wbemcli.h"

#include <memory>
#include <string>
#include <vector>

namespace qv::wbem::mof {

struct InstanceDecl;

struct Value {
    enum class Kind { Null, Bool, Integer, Real, String, Char, Alias, Array, Instance };
    Kind kind = Kind::Null;
    bool boolean = false;
    uint64_t magnitude = 0;
    bool negative = false;
    std::wstring text;                       // string, char, alias name, a real's literal
    std::vector<Value> elements;             // array
    std::shared_ptr<InstanceDecl> instance;  // embedded instance
    int line = 0;
};

struct QualifierDecl {
    std::wstring name;
    bool hasValue = false;
    Value value;          // absent means TRUE
    LONG flavor = 0;      // flavors written after ':'
    LONG flavorMask = 0;  // which flavor bits were written (propagation and/or permission)
    int line = 0;
};

struct TypeDecl {
    std::wstring name;  // "uint32", "string", "object", or a class name for references
    bool isRef = false;
};

struct PropertyDecl {
    std::vector<QualifierDecl> qualifiers;
    TypeDecl type;
    std::wstring name;
    bool isArray = false;
    int64_t arraySize = -1;  // -1 when the brackets are empty
    bool hasDefault = false;
    Value defaultValue;
    int line = 0;
};

struct MethodDecl {
    std::vector<QualifierDecl> qualifiers;
    TypeDecl returnType;  // name "void" for none
    std::wstring name;
    std::vector<PropertyDecl> parameters;
    int line = 0;
};

struct ClassDecl {
    std::vector<QualifierDecl> qualifiers;
    std::wstring name;
    std::wstring superclass;
    std::wstring alias;
    std::vector<PropertyDecl> properties;
    std::vector<MethodDecl> methods;
    int line = 0;
};

struct PropertyValue {
    std::vector<QualifierDecl> qualifiers;
    std::wstring name;
    Value value;
    int line = 0;
};

struct InstanceDecl {
    std::vector<QualifierDecl> qualifiers;
    std::wstring className;
    std::wstring alias;
    std::vector<PropertyValue> values;
    int line = 0;
};

struct Pragma {
    std::wstring name;             // lower case
    std::vector<Value> arguments;  // strings and identifiers (as strings)
    int line = 0;
};

struct Statement {
    enum class Kind { Pragma, Class, Instance };
    Kind kind = Kind::Pragma;
    int file = 0;  // which file of the compile it comes from (see mof_sources.h)
    Pragma pragma;
    std::shared_ptr<ClassDecl> cls;
    std::shared_ptr<InstanceDecl> instance;
    int line = 0;
};

struct ParseError {
    int line = 0;
    std::string reason;
};

// Parses a whole MOF text. False with *error at the first lexical or syntax error.
bool Parse(const std::wstring& text, std::vector<Statement>* statements, ParseError* error);

}  // namespace qv::wbem::mof
