// Every literal form of MOF against the limits of the type it is assigned to, and the forms of
// #pragma namespace: one compile per case into a repository of a fresh root.
#include "qv_mof_compiler.h"
#include "qv_temp_root.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

namespace qv::wbem {
namespace {

constexpr HRESULT kOk = S_OK;
constexpr HRESULT kRange = WBEM_E_VALUE_OUT_OF_RANGE;
constexpr HRESULT kSyntax = WBEM_E_INVALID_SYNTAX;
constexpr HRESULT kMismatch = WBEM_E_TYPE_MISMATCH;

CimScalar U(uint64_t v) { return v; }
CimScalar S(int64_t v) { return v; }
CimScalar R(double v) { return v; }
CimScalar T(const wchar_t* v) { return std::wstring(v); }
const CimScalar kNone = false;

struct Literal {
    const wchar_t* type;
    const wchar_t* literal;  // as written in the MOF text
    HRESULT code;            // S_OK: accepted with `value`
    CimScalar value;
};

// clang-format off
const Literal kLiterals[] = {
    // uint8: decimal, hexadecimal, octal and binary at both ends, signs
    {L"uint8", L"0", kOk, U(0)},                 {L"uint8", L"255", kOk, U(255)},
    {L"uint8", L"+255", kOk, U(255)},            {L"uint8", L"-0", kOk, U(0)},
    {L"uint8", L"256", kRange, kNone},           {L"uint8", L"-1", kRange, kNone},
    {L"uint8", L"0xFF", kOk, U(255)},            {L"uint8", L"0x100", kRange, kNone},
    {L"uint8", L"0377", kOk, U(255)},            {L"uint8", L"0400", kRange, kNone},
    {L"uint8", L"11111111b", kOk, U(255)},       {L"uint8", L"100000000B", kRange, kNone},
    {L"uint8", L"-0x1", kRange, kNone},
    // sint8
    {L"sint8", L"-128", kOk, S(-128)},           {L"sint8", L"127", kOk, S(127)},
    {L"sint8", L"-129", kRange, kNone},          {L"sint8", L"128", kRange, kNone},
    {L"sint8", L"-0x80", kOk, S(-128)},          {L"sint8", L"+0x7f", kOk, S(127)},
    {L"sint8", L"-0x81", kRange, kNone},         {L"sint8", L"0x80", kRange, kNone},
    {L"sint8", L"-0200", kOk, S(-128)},          {L"sint8", L"0177", kOk, S(127)},
    {L"sint8", L"-0201", kRange, kNone},         {L"sint8", L"0200", kRange, kNone},
    {L"sint8", L"-10000000b", kOk, S(-128)},     {L"sint8", L"1111111b", kOk, S(127)},
    {L"sint8", L"-10000001b", kRange, kNone},    {L"sint8", L"10000000b", kRange, kNone},
    // uint16
    {L"uint16", L"65535", kOk, U(65535)},        {L"uint16", L"65536", kRange, kNone},
    {L"uint16", L"0xFFFF", kOk, U(65535)},       {L"uint16", L"0x10000", kRange, kNone},
    {L"uint16", L"0177777", kOk, U(65535)},      {L"uint16", L"0200000", kRange, kNone},
    {L"uint16", L"1111111111111111b", kOk, U(65535)}, {L"uint16", L"10000000000000000b", kRange, kNone},
    {L"uint16", L"-1", kRange, kNone},
    // sint16
    {L"sint16", L"-32768", kOk, S(-32768)},      {L"sint16", L"32767", kOk, S(32767)},
    {L"sint16", L"-32769", kRange, kNone},       {L"sint16", L"32768", kRange, kNone},
    {L"sint16", L"-0x8000", kOk, S(-32768)},     {L"sint16", L"0x8000", kRange, kNone},
    {L"sint16", L"-0100000", kOk, S(-32768)},    {L"sint16", L"0100000", kRange, kNone},
    {L"sint16", L"-1000000000000000b", kOk, S(-32768)}, {L"sint16", L"111111111111111b", kOk, S(32767)},
    {L"sint16", L"1000000000000000b", kRange, kNone},
    // uint32
    {L"uint32", L"4294967295", kOk, U(4294967295u)}, {L"uint32", L"4294967296", kRange, kNone},
    {L"uint32", L"0xFFFFFFFF", kOk, U(4294967295u)}, {L"uint32", L"0x100000000", kRange, kNone},
    {L"uint32", L"037777777777", kOk, U(4294967295u)}, {L"uint32", L"040000000000", kRange, kNone},
    {L"uint32", L"11111111111111111111111111111111b", kOk, U(4294967295u)},
    {L"uint32", L"100000000000000000000000000000000b", kRange, kNone},
    {L"uint32", L"-1", kRange, kNone},
    // sint32
    {L"sint32", L"-2147483648", kOk, S(INT32_MIN)}, {L"sint32", L"2147483647", kOk, S(INT32_MAX)},
    {L"sint32", L"-2147483649", kRange, kNone},  {L"sint32", L"2147483648", kRange, kNone},
    {L"sint32", L"-0x80000000", kOk, S(INT32_MIN)}, {L"sint32", L"0x80000000", kRange, kNone},
    {L"sint32", L"+0x7FFFFFFF", kOk, S(INT32_MAX)}, {L"sint32", L"-0x80000001", kRange, kNone},
    {L"sint32", L"-020000000000", kOk, S(INT32_MIN)}, {L"sint32", L"017777777777", kOk, S(INT32_MAX)},
    {L"sint32", L"020000000000", kRange, kNone},
    {L"sint32", L"-10000000000000000000000000000000b", kOk, S(INT32_MIN)},
    {L"sint32", L"1111111111111111111111111111111b", kOk, S(INT32_MAX)},
    {L"sint32", L"10000000000000000000000000000000b", kRange, kNone},
    // uint64
    {L"uint64", L"18446744073709551615", kOk, U(UINT64_MAX)},
    {L"uint64", L"18446744073709551616", kSyntax, kNone},
    {L"uint64", L"0xFFFFFFFFFFFFFFFF", kOk, U(UINT64_MAX)},
    {L"uint64", L"0x10000000000000000", kSyntax, kNone},
    {L"uint64", L"01777777777777777777777", kOk, U(UINT64_MAX)},
    {L"uint64", L"02000000000000000000000", kSyntax, kNone},
    {L"uint64", L"1111111111111111111111111111111111111111111111111111111111111111b", kOk, U(UINT64_MAX)},
    {L"uint64", L"11111111111111111111111111111111111111111111111111111111111111111b", kSyntax, kNone},
    {L"uint64", L"-1", kRange, kNone},
    // sint64
    {L"sint64", L"-9223372036854775808", kOk, S(INT64_MIN)},
    {L"sint64", L"9223372036854775807", kOk, S(INT64_MAX)},
    {L"sint64", L"-9223372036854775809", kRange, kNone},
    {L"sint64", L"9223372036854775808", kRange, kNone},
    {L"sint64", L"-0x8000000000000000", kOk, S(INT64_MIN)},
    {L"sint64", L"0x7FFFFFFFFFFFFFFF", kOk, S(INT64_MAX)},
    {L"sint64", L"0x8000000000000000", kRange, kNone},
    {L"sint64", L"-01000000000000000000000", kOk, S(INT64_MIN)},
    {L"sint64", L"0777777777777777777777", kOk, S(INT64_MAX)},
    {L"sint64", L"01000000000000000000000", kRange, kNone},
    {L"sint64", L"-1000000000000000000000000000000000000000000000000000000000000000b", kOk, S(INT64_MIN)},
    {L"sint64", L"111111111111111111111111111111111111111111111111111111111111111b", kOk, S(INT64_MAX)},
    {L"sint64", L"1000000000000000000000000000000000000000000000000000000000000000b", kRange, kNone},
    {L"sint64", L"-1000000000000000000000000000000000000000000000000000000000000001b", kRange, kNone},
    // malformed integers
    {L"uint32", L"09", kSyntax, kNone},          {L"uint32", L"12b", kSyntax, kNone},
    {L"uint32", L"0x", kSyntax, kNone},          {L"uint32", L"0xG1", kSyntax, kNone},
    {L"uint32", L"12abc", kSyntax, kNone},       {L"uint32", L"1.5", kMismatch, kNone},
    // real64: every finite double, subnormal ones included; only overflow is refused
    {L"real64", L"4.9E-324", kOk, R(std::numeric_limits<double>::denorm_min())},
    {L"real64", L"-4.9E-324", kOk, R(-std::numeric_limits<double>::denorm_min())},
    {L"real64", L"2.2250738585072014E-308", kOk, R(DBL_MIN)},
    {L"real64", L"1.7976931348623157E308", kOk, R(DBL_MAX)},
    {L"real64", L"-1.7976931348623157e+308", kOk, R(-DBL_MAX)},
    {L"real64", L"1.7976931348623159E308", kRange, kNone},
    {L"real64", L"-1e309", kRange, kNone},
    {L"real64", L"1e-400", kOk, R(0.0)},
    {L"real64", L".5", kOk, R(0.5)},             {L"real64", L"-.5", kOk, R(-0.5)},
    {L"real64", L"+1.5e+3", kOk, R(1500.0)},     {L"real64", L"1.", kOk, R(1.0)},
    {L"real64", L"-2.25E-3", kOk, R(-2.25e-3)},  {L"real64", L"-7", kOk, R(-7.0)},
    {L"real64", L"0x10", kOk, R(16.0)},          {L"real64", L"1e", kSyntax, kNone},
    {L"real64", L"1.5x", kSyntax, kNone},        {L"real64", L"\"1.5\"", kMismatch, kNone},
    // real32: rounded once to the nearest float, subnormal floats included
    {L"real32", L"1.175494351E-38", kOk, R(FLT_MIN)},
    {L"real32", L"1.401298464E-45", kOk, R(std::numeric_limits<float>::denorm_min())},
    {L"real32", L"1E-45", kOk, R(std::numeric_limits<float>::denorm_min())},
    {L"real32", L"5.877471754E-39", kOk, R(std::ldexp(1.0, -127))},
    {L"real32", L"3.4028234663852886E38", kOk, R(FLT_MAX)},
    {L"real32", L"-3.4028235E38", kOk, R(-FLT_MAX)},
    {L"real32", L"3.4028236E38", kRange, kNone},
    {L"real32", L"1e39", kRange, kNone},
    {L"real32", L"0.1", kOk, R(static_cast<double>(0.1f))},
    {L"real32", L"16777217", kOk, R(16777216.0)},
    // 2^60 + 2^36 + 1 lies just above a tie of real32; rounding through real64 first would make it 2^60
    {L"real32", L"1152921573326323713", kOk, R(1152921642045800448.0)},
    {L"real32", L"-1152921573326323713", kOk, R(-1152921642045800448.0)},
    // char16
    {L"char16", L"'a'", kOk, U('a')},            {L"char16", L"'\\x263A'", kOk, U(0x263A)},
    {L"char16", L"'\\X41'", kOk, U(0x41)},       {L"char16", L"'\\xFFFF'", kOk, U(0xFFFF)},
    {L"char16", L"'\\''", kOk, U('\'')},         {L"char16", L"'\\\\'", kOk, U('\\')},
    {L"char16", L"'\\n'", kOk, U('\n')},         {L"char16", L"'\"'", kOk, U('"')},
    {L"char16", L"65535", kOk, U(65535)},        {L"char16", L"65536", kRange, kNone},
    {L"char16", L"-1", kRange, kNone},           {L"char16", L"'\U0001F600'", kRange, kNone},
    {L"char16", L"''", kSyntax, kNone},          {L"char16", L"'''", kSyntax, kNone},
    {L"char16", L"'ab'", kSyntax, kNone},        {L"char16", L"'\\q'", kSyntax, kNone},
    {L"char16", L"'\\x'", kSyntax, kNone},       {L"char16", L"\"a\"", kMismatch, kNone},
    // strings: every escape, concatenation, and what is refused
    {L"string", L"\"\\b\\t\\n\\f\\r\\\"\\'\\\\\\x41\\X263a\"", kOk, T(L"\b\t\n\f\r\"'\\A\u263a")},
    {L"string", L"\"\\x41BCD\"", kOk, T(L"\u41BCD")},
    {L"string", L"\"\\x41G\"", kOk, T(L"AG")},
    {L"string", L"\"one\" \"two\"\n \"three\"", kOk, T(L"onetwothree")},
    {L"string", L"\"\"", kOk, T(L"")},           {L"string", L"'c'", kOk, T(L"c")},
    {L"string", L"\"caf\u00e9 \U0001F600\"", kOk, T(L"caf\u00e9 \U0001F600")},
    {L"string", L"\"\\q\"", kSyntax, kNone},     {L"string", L"\"\\x\"", kSyntax, kNone},
    {L"string", L"\"open", kSyntax, kNone},      {L"string", L"\"line\nbreak\"", kSyntax, kNone},
    {L"string", L"12", kMismatch, kNone},
    // datetime: timestamps and intervals, each field within its range
    {L"datetime", L"\"20260101120000.000000+060\"", kOk, T(L"20260101120000.000000+060")},
    {L"datetime", L"\"99991231235959.999999-720\"", kOk, T(L"99991231235959.999999-720")},
    {L"datetime", L"\"2026**01120000.000000+000\"", kOk, T(L"2026**01120000.000000+000")},
    {L"datetime", L"\"20260101120000.125***+000\"", kOk, T(L"20260101120000.125***+000")},
    {L"datetime", L"\"20261301120000.000000+000\"", kMismatch, kNone},
    {L"datetime", L"\"20260001120000.000000+000\"", kMismatch, kNone},
    {L"datetime", L"\"20260132120000.000000+000\"", kMismatch, kNone},
    {L"datetime", L"\"20260101240000.000000+000\"", kMismatch, kNone},
    {L"datetime", L"\"20260101126000.000000+000\"", kMismatch, kNone},
    {L"datetime", L"\"20260101120060.000000+000\"", kMismatch, kNone},
    {L"datetime", L"\"20260101120000.1*3***+000\"", kMismatch, kNone},
    {L"datetime", L"\"20260101120000.000000*000\"", kMismatch, kNone},
    {L"datetime", L"\"2026010112000.000000+000\"", kMismatch, kNone},
    {L"datetime", L"\"2026-1-01120000.000000+000\"", kMismatch, kNone},
    {L"datetime", L"\"00000001132312.000000:000\"", kOk, T(L"00000001132312.000000:000")},
    {L"datetime", L"\"99999999235959.999999:000\"", kOk, T(L"99999999235959.999999:000")},
    {L"datetime", L"\"00000001242312.000000:000\"", kMismatch, kNone},
    {L"datetime", L"\"00000001136012.000000:000\"", kMismatch, kNone},
    {L"datetime", L"\"00000001132312.000000:001\"", kMismatch, kNone},
    {L"datetime", L"20260101", kMismatch, kNone},
    // booleans and null
    {L"boolean", L"TRUE", kOk, true},            {L"boolean", L"false", kOk, false},
    {L"boolean", L"1", kMismatch, kNone},        {L"boolean", L"\"true\"", kMismatch, kNone},
};
// clang-format on

class MofLiteralTest : public TempRootTest {
protected:
    void SetUp() override {
        TempRootTest::SetUp();
        repo_ = Repository::Open(root_);
        ASSERT_TRUE(repo_);
    }
    MofResult Compile(const std::wstring& text, const std::wstring& ns = L"root\\cimv2") {
        MofOptions options;
        options.defaultNamespace = ns;
        return CompileMofText(text, "literal.mof", *repo_, options);
    }
    std::unique_ptr<Repository> repo_;
};

bool SameScalar(const CimScalar& a, const CimScalar& b) {
    if (std::holds_alternative<double>(a) && std::holds_alternative<double>(b))
        return std::memcmp(&std::get<double>(a), &std::get<double>(b), sizeof(double)) == 0;  // exact, sign of 0
    return a == b;
}

std::string Show(const CimScalar& v) {
    return std::visit(
        [](const auto& x) -> std::string {
            using X = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<X, std::wstring>)
                return qv::win::ToUtf8(x);
            else if constexpr (std::is_same_v<X, double>) {
                char buf[40];
                std::snprintf(buf, sizeof buf, "%.17g", x);
                return buf;
            } else if constexpr (std::is_same_v<X, std::shared_ptr<CimObject>>)
                return "object";
            else
                return std::to_string(x);
        },
        v);
}

// Each literal as the default of a property of its type: accepted with exactly the value the type holds,
// or refused at its line with the reason's code.
TEST_F(MofLiteralTest, EveryLiteralFormMeetsTheLimitsOfItsType) {
    for (const Literal& c : kLiterals) {
        std::wstring text = std::wstring(L"// probe\nclass Probe { ") + c.type + L" V = " + c.literal + L"; };\n";
        SCOPED_TRACE(qv::win::ToUtf8(std::wstring(c.type) + L" V = " + c.literal));
        MofResult r = Compile(text);
        EXPECT_EQ(static_cast<unsigned>(r.code), static_cast<unsigned>(c.code)) << r.reason;
        if (c.code != kOk) {
            EXPECT_FALSE(r.ok);
            EXPECT_EQ(r.line, 2) << r.reason;
            EXPECT_FALSE(r.reason.empty());
            continue;
        }
        ASSERT_TRUE(r.ok) << FormatMofError(r);
        CimObject probe;
        ASSERT_EQ(repo_->GetClass(L"root\\cimv2", L"Probe", &probe), S_OK);
        const Property* v = FindProperty(probe, L"V");
        ASSERT_TRUE(v && !v->value.null && v->value.elements.size() == 1);
        EXPECT_TRUE(SameScalar(v->value.elements[0], c.value))
            << "stored " << Show(v->value.elements[0]) << ", expected " << Show(c.value);
    }
}

// The same limits hold for array elements and instance values; the refused element is named by its line.
TEST_F(MofLiteralTest, ArrayElementsAndInstanceValuesMeetTheSameLimits) {
    MofResult r = Compile(
        L"class Arr { [key] string K; sint8 A[] = {-128, 0x7F, -0200, 1111111b}; real32 F[]; };\n"
        L"instance of Arr { K = \"k\"; F = {1.175494351E-38, 3.4028234663852886E38}; };\n");
    ASSERT_TRUE(r.ok) << FormatMofError(r);
    CimObject instance;
    ASSERT_EQ(repo_->GetInstance(L"root\\cimv2", L"Arr.K=\"k\"", &instance), S_OK);
    const CimValue& a = FindProperty(instance, L"A")->value;
    EXPECT_EQ(a, (CimValue{CIM_SINT8 | CIM_FLAG_ARRAY, false, {S(-128), S(127), S(-128), S(127)}}));
    const CimValue& f = FindProperty(instance, L"F")->value;
    EXPECT_EQ(f, (CimValue{CIM_REAL32 | CIM_FLAG_ARRAY, false, {R(FLT_MIN), R(FLT_MAX)}}));

    r = Compile(L"class Arr2 { uint8 A[] = {1,\n 2,\n 256}; };\n");
    EXPECT_EQ(r.code, kRange);
    EXPECT_EQ(r.line, 3);
    r = Compile(L"class Arr3 { [key] string K; real32 F; };\ninstance of Arr3 { K = \"k\";\n F = 1e39; };\n");
    EXPECT_EQ(r.code, kRange);
    EXPECT_EQ(r.line, 3);
}

struct NamespaceForm {
    const wchar_t* start;   // the namespace the compile starts in
    const wchar_t* pragma;  // the argument as written in the MOF text
    const wchar_t* lands;   // where the class lands; null when the pragma is refused
};

// clang-format off
const NamespaceForm kNamespaceForms[] = {
    {L"root\\default", L"\\\\\\\\.\\\\root\\\\Forms\\\\Sub", L"root\\Forms\\Sub"},
    {L"root\\default", L"//./root/Forms/Sub", L"root\\Forms\\Sub"},
    {L"root\\default", L"\\\\\\\\./root/Forms", L"root\\Forms"},
    {L"root\\default", L"//localhost/root/Forms", L"root\\Forms"},
    {L"root\\default", L"root/Forms/Sub", L"root\\Forms\\Sub"},
    {L"root\\default", L"ROOT/forms/SUB/", L"root\\Forms\\Sub"},
    {L"root\\default", L"root\\\\Forms", L"root\\Forms"},
    {L"root\\default", L"/root/Forms", L"root\\Forms"},
    {L"root\\default", L"\\\\root\\\\Forms\\\\Sub", L"root\\Forms\\Sub"},
    {L"root\\default", L"root", L"root"},
    {L"root\\Forms", L"Sub/Deeper", L"root\\Forms\\Sub\\Deeper"},
    {L"root\\Forms", L"Sub\\\\Deeper", L"root\\Forms\\Sub\\Deeper"},
    {L"root\\Forms", L"Sub", L"root\\Forms\\Sub"},
    {L"root\\default", L"//./root/Missing", nullptr},
    {L"root\\default", L"//elsewhere/root/Forms", nullptr},
    {L"root\\default", L"//.", nullptr},
    {L"root\\default", L"", nullptr},
    {L"root\\Forms", L"Deeper", nullptr},
};
// clang-format on

TEST_F(MofLiteralTest, NamespacePragmasAcceptForwardSlashesAndRelativeNames) {
    ASSERT_TRUE(Compile(L"instance of __Namespace { Name = \"Forms\"; };\n#pragma namespace(\"root/Forms\")\n"
                        L"instance of __Namespace { Name = \"Sub\"; };\n#pragma namespace(\"Sub\")\n"
                        L"instance of __Namespace { Name = \"Deeper\"; };\n",
                        L"root")
                    .ok);
    int round = 0;
    for (const NamespaceForm& c : kNamespaceForms) {
        SCOPED_TRACE(qv::win::ToUtf8(std::wstring(c.start) + L": " + c.pragma));
        std::wstring name = L"Landed" + std::to_wstring(round++);
        MofResult r = Compile(std::wstring(L"#pragma namespace(\"") + c.pragma + L"\")\nclass " + name + L" { };\n",
                              c.start);
        if (!c.lands) {
            EXPECT_FALSE(r.ok);
            EXPECT_EQ(r.code, WBEM_E_INVALID_NAMESPACE);
            EXPECT_EQ(r.line, 1);
            continue;
        }
        ASSERT_TRUE(r.ok) << FormatMofError(r);
        CimObject landed;
        EXPECT_EQ(repo_->GetClass(c.lands, name, &landed), S_OK);
    }
}

}  // namespace
}  // namespace qv::wbem
