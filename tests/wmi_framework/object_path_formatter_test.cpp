#include "WMIObjectPathFormatter.h"
#include "WMIObjectPathParser.h"
#include "object_path_test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Parsed paths come back as canonical text, which parses to an equal path.
TEST(ObjectPathFormatter, WritesCanonicalTextThatParsesBack) {
    struct Case {
        const wchar_t* path;
        const wchar_t* canonical;
    } cases[] = {
        {L"QVPROV_BIOSString.InstanceName=\"x\"", L"QVPROV_BIOSString.InstanceName=\"x\""},
        {L"C.B=1,a=2", L"C.a=2,B=1"},
        {L"C.k='a\\b\"c'", L"C.k=\"a\\\\b\\\"c\""},
        {L"C.k=\"two\nlines\"", L"C.k=\"two\nlines\""},
        {L"C.k=0xFF,j=007", L"C.j=7,k=255"},
        {L"C.k=4294967295", L"C.k=-1"},
        {L"C.k=-2147483648", L"C.k=-2147483648"},
        {L"C.k=true", L"C.k=1"},
        {L"C='x'", L"C=\"x\""},
        {L"C=@", L"C=@"},
        {L":C", L"C"},
        {L"//srv/root/cimv2:X.k=\"\"", L"\\\\srv\\root\\cimv2:X.k=\"\""},
        {L"\\\\srv\\root", L"\\\\srv\\root"},
        {L"\\\\a b:c\\ns:C=@", L"\\\\a b:c\\ns:C=@"},
        {L"Caf\u00e9.\u65e5=1", L"Caf\u00e9.\u65e5=1"},
    };
    const WMIObjectPathParser parser;
    for (const auto& c : cases) {
        std::unique_ptr<WMIParsedObjectPath> parsed;
        ASSERT_EQ(parser.Parse(c.path, parsed), WMIPathParseNoError) << c.path;
        std::wstring text;
        ASSERT_TRUE(FormatObjectPath(*parsed, text)) << c.path;
        EXPECT_EQ(text, c.canonical) << c.path;
        std::unique_ptr<WMIParsedObjectPath> reparsed;
        ASSERT_EQ(parser.Parse(text.c_str(), reparsed), WMIPathParseNoError) << text;
        EXPECT_EQ(*reparsed, *parsed) << text;
    }
}

// A path built by code gets its keys sorted like the parser sorts them.
TEST(ObjectPathFormatter, SortsKeysOfBuiltPaths) {
    WMIParsedObjectPath path = MakePath({{}, {}, L"C", {{L"b", VT_I4, 2}, {L"_", VT_I4, 3}, {L"A", VT_BSTR, 0, L"1"}}});
    std::wstring text;
    ASSERT_TRUE(FormatObjectPath(path, text));
    EXPECT_EQ(text, L"C._=3,A=\"1\",b=2");
}

// Paths that no text would parse back to are refused, and the output is left alone.
TEST(ObjectPathFormatter, RefusesPathsWithoutAText) {
    std::wstring bstrWithNul(L"a\0b", 3);
    ExpectedPath cases[] = {
        {},                            // nothing at all
        {{}, {L"ns"}, L"C", {}},       // namespaces without a server
        {L"srv", {}, L"C", {}},        // a server without namespaces
        {L"", {L"ns"}, L"C", {}},      // an empty server
        {L"s\\v", {L"ns"}, L"C", {}},  // a separator in the server
        {L"srv", {L"n s"}, L"C", {}},  // a namespace that is no identifier
        {{}, {}, L"1C", {}},           // a class that is no identifier
        {{}, {}, L"C D", {}},
        {{}, {}, std::nullopt, {{L"k", VT_I4, 1}}},               // keys without a class
        {{}, {}, std::nullopt, {}, true},                         // "=@" without a class
        {{}, {}, L"C", {{L"k", VT_I4, 1}}, true},                 // "=@" with keys
        {{}, {}, L"C", {{nullptr, VT_I4, 1}, {L"k", VT_I4, 2}}},  // the unnamed key beside another
        {{}, {}, L"C", {{L"", VT_I4, 1}}},                        // an empty key name
        {{}, {}, L"C", {{L"k", VT_BOOL, -1}}},                    // a type the parser never produces
        {{}, {}, L"C", {{L"k", VT_BSTR, 0, bstrWithNul}}},        // a NUL would end the text
    };
    for (const auto& c : cases) {
        std::wstring text = L"untouched";
        EXPECT_FALSE(FormatObjectPath(MakePath(c), text));
        EXPECT_EQ(text, L"untouched");
    }
}

}  // namespace
