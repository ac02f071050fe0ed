#include "WMIObjectPathParser.h"
#include "object_path_test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

WMIPathParseResult Parse(const wchar_t* text, std::unique_ptr<WMIParsedObjectPath>& parsed) {
    return WMIObjectPathParser().Parse(text, parsed);
}

const std::wstring k31Digits = std::wstring(30, L'0') + L"1";

// Accepted paths and exactly what they parse into.
TEST(ObjectPathParser, AcceptedPaths) {
    const std::wstring digits31 = L"C.k=" + k31Digits;
    const std::wstring hex31 = L"C.k=0x" + std::wstring(28, L'0') + L"1";
    struct Case {
        std::wstring text;
        ExpectedPath expected;
    } cases[] = {
        {L"QVPROV_BIOSString.InstanceName=\"x\"",
         {{}, {}, L"QVPROV_BIOSString", {{L"InstanceName", VT_BSTR, 0, L"x"}}}},
        {L"C", {{}, {}, L"C", {}}},
        {L":C.k=1", {{}, {}, L"C", {{L"k", VT_I4, 1}}}},
        // Quoted values: escapes in double quotes, none in single quotes.
        {L"C.k=\"say \\\"hi\\\"\"", {{}, {}, L"C", {{L"k", VT_BSTR, 0, L"say \"hi\""}}}},
        {L"C.k=\"a\\\\b\"", {{}, {}, L"C", {{L"k", VT_BSTR, 0, L"a\\b"}}}},
        {L"C.k='a\\b\"c'", {{}, {}, L"C", {{L"k", VT_BSTR, 0, L"a\\b\"c"}}}},
        {L"C.k=\"two\nlines\"", {{}, {}, L"C", {{L"k", VT_BSTR, 0, L"two\nlines"}}}},
        {L"C.k=\"\"", {{}, {}, L"C", {{L"k", VT_BSTR, 0, L""}}}},
        {L"C.k=\"in side\"", {{}, {}, L"C", {{L"k", VT_BSTR, 0, L"in side"}}}},
        // Sorting by name without regard to case; equal names keep their order.
        {L"C.B=1,a=2", {{}, {}, L"C", {{L"a", VT_I4, 2}, {L"B", VT_I4, 1}}}},
        {L"C.c=3,b=\"2\",a=1", {{}, {}, L"C", {{L"a", VT_I4, 1}, {L"b", VT_BSTR, 0, L"2"}, {L"c", VT_I4, 3}}}},
        {L"C.B=1,_=2", {{}, {}, L"C", {{L"_", VT_I4, 2}, {L"B", VT_I4, 1}}}},  // "_" sorts before letters
        {L"C.ab=1,A=2", {{}, {}, L"C", {{L"A", VT_I4, 2}, {L"ab", VT_I4, 1}}}},
        {L"C.K=2,k=1", {{}, {}, L"C", {{L"K", VT_I4, 2}, {L"k", VT_I4, 1}}}},
        {L"C.k=1,K=2", {{}, {}, L"C", {{L"k", VT_I4, 1}, {L"K", VT_I4, 2}}}},
        // TRUE and FALSE in any case are VT_I4, not booleans.
        {L"C.k=true", {{}, {}, L"C", {{L"k", VT_I4, 1}}}},
        {L"C.k=FaLsE", {{}, {}, L"C", {{L"k", VT_I4, 0}}}},
        {L"C=TRUE", {{}, {}, L"C", {{nullptr, VT_I4, 1}}}},
        // Numbers.
        {L"C.k=0", {{}, {}, L"C", {{L"k", VT_I4, 0}}}},
        {L"C.k=007", {{}, {}, L"C", {{L"k", VT_I4, 7}}}},
        {L"C.k=-5", {{}, {}, L"C", {{L"k", VT_I4, -5}}}},
        {L"C.k=-0", {{}, {}, L"C", {{L"k", VT_I4, 0}}}},
        {L"C.k=2147483647", {{}, {}, L"C", {{L"k", VT_I4, 2147483647}}}},
        {L"C.k=-2147483648", {{}, {}, L"C", {{L"k", VT_I4, -2147483647 - 1}}}},
        {L"C.k=4294967295", {{}, {}, L"C", {{L"k", VT_I4, -1}}}},
        {L"C.k=0x1F", {{}, {}, L"C", {{L"k", VT_I4, 31}}}},
        {L"C.k=0XfF", {{}, {}, L"C", {{L"k", VT_I4, 255}}}},
        {L"C.k=0xFFFFFFFF", {{}, {}, L"C", {{L"k", VT_I4, -1}}}},
        {digits31, {{}, {}, L"C", {{L"k", VT_I4, 1}}}},
        {hex31, {{}, {}, L"C", {{L"k", VT_I4, 1}}}},
        // "=@" and the unnamed key.
        {L"C=@", {{}, {}, L"C", {}, true}},
        {L"C=\"x\"", {{}, {}, L"C", {{nullptr, VT_BSTR, 0, L"x"}}}},
        {L"C=5", {{}, {}, L"C", {{nullptr, VT_I4, 5}}}},
        // Server and namespaces.
        {L"\\\\.\\root\\QV\\InstrumentedBIOS:QVPROV_BIOSString.InstanceName=\"x\"",
         {L".", {L"root", L"QV", L"InstrumentedBIOS"}, L"QVPROV_BIOSString", {{L"InstanceName", VT_BSTR, 0, L"x"}}}},
        {L"//srv/root/cimv2:Win32_X=@", {L"srv", {L"root", L"cimv2"}, L"Win32_X", {}, true}},
        {L"\\\\srv\\root\\cimv2", {L"srv", {L"root", L"cimv2"}, std::nullopt, {}}},
        {L"\\\\a b:c\\ns:C", {L"a b:c", {L"ns"}, L"C", {}}},
        // Identifiers beyond ASCII.
        {L"Caf\u00e9.\u65e5=1", {{}, {}, L"Caf\u00e9", {{L"\u65e5", VT_I4, 1}}}},
        {L"C\U0001F600", {{}, {}, L"C\U0001F600", {}}},
    };
    for (const auto& c : cases) {
        std::unique_ptr<WMIParsedObjectPath> parsed;
        ASSERT_EQ(Parse(c.text.c_str(), parsed), WMIPathParseNoError) << c.text;
        ASSERT_TRUE(parsed);
        EXPECT_EQ(*parsed, MakePath(c.expected)) << c.text;
    }
}

// Refused paths and their result codes; a refused parse leaves no result behind.
TEST(ObjectPathParser, RefusedPaths) {
    const std::wstring digits32 = L"C.k=0" + k31Digits;
    const std::wstring hex32 = L"C.k=0x" + std::wstring(29, L'0') + L"1";
    struct Case {
        std::wstring text;
        WMIPathParseResult result;
    } cases[] = {
        // Empty, or white space at either end.
        {L"", WMIPathParseInvalidParameter},
        {L" C", WMIPathParseInvalidParameter},
        {L"C ", WMIPathParseInvalidParameter},
        {L"\tC", WMIPathParseInvalidParameter},
        {L"C.k=1\r", WMIPathParseInvalidParameter},
        {L" ", WMIPathParseInvalidParameter},
        // White space or a stray character inside.
        {L"C .k=1", WMIPathParseSyntaxError},
        {L"C. k=1", WMIPathParseSyntaxError},
        {L"C.k =1", WMIPathParseSyntaxError},
        {L"C.k= 1", WMIPathParseSyntaxError},
        {L"C#", WMIPathParseSyntaxError},
        {L"C\uFFFF", WMIPathParseSyntaxError},
        // Bad strings.
        {L"C.k=\"a\\nb\"", WMIPathParseSyntaxError},
        {L"C.k=\"open", WMIPathParseSyntaxError},
        {L"C.k='a\nb'", WMIPathParseSyntaxError},
        {L"C.k='open", WMIPathParseSyntaxError},
        // Bad key constants.
        {L"C.k=abc", WMIPathParseSyntaxError},
        {L"C.k=TRUEx", WMIPathParseSyntaxError},
        {L"C.k=1a", WMIPathParseSyntaxError},
        {L"C.k=-", WMIPathParseSyntaxError},
        {L"C.k=0x", WMIPathParseSyntaxError},
        {L"C.k=0xg", WMIPathParseSyntaxError},
        {L"C.k=1.5", WMIPathParseSyntaxError},
        {digits32, WMIPathParseSyntaxError},
        {hex32, WMIPathParseSyntaxError},
        {L"C.k=4294967296", WMIPathParseSyntaxError},
        {L"C.k=-2147483649", WMIPathParseSyntaxError},
        {L"C.k=0x100000000", WMIPathParseSyntaxError},
        {L"C.k=99999999999999999999", WMIPathParseSyntaxError},
        // Bad key lists.
        {L"C.", WMIPathParseSyntaxError},
        {L"C.k", WMIPathParseSyntaxError},
        {L"C.k=", WMIPathParseSyntaxError},
        {L"C.k=1,", WMIPathParseSyntaxError},
        {L"C.k=1.j=2", WMIPathParseSyntaxError},
        {L"C=1=2", WMIPathParseSyntaxError},
        {L"C=1,k=2", WMIPathParseSyntaxError},
        {L"C=x", WMIPathParseSyntaxError},
        // "=@" must end the path.
        {L"C=@,k=1", WMIPathParseSyntaxError},
        {L"C=@@", WMIPathParseSyntaxError},
        {L"=@", WMIPathParseSyntaxError},
        {L"@", WMIPathParseSyntaxError},
        // Namespaces need a server; the server needs a name and a separator after it.
        {L"ns:C", WMIPathParseSyntaxError},
        {L"ns\\ns2:C", WMIPathParseSyntaxError},
        {L"\\ns:C", WMIPathParseSyntaxError},
        {L"\\ns", WMIPathParseSyntaxError},
        {L"\\\\\\ns:C", WMIPathParseSyntaxError},
        {L"\\\\srv", WMIPathParseSyntaxError},
        {L"\\\\srv\\", WMIPathParseSyntaxError},
        {L"\\\\srv\\:C", WMIPathParseSyntaxError},
        {L"\\\\srv\\ns:", WMIPathParseSyntaxError},
        {L"\\\\srv\\ns:C:D", WMIPathParseSyntaxError},
        {L"\\\\srv\\ns\\\\C", WMIPathParseSyntaxError},
        {L"\\/srv\\ns:C", WMIPathParseSyntaxError},
        {L"\\\\srv\\ns.k=1", WMIPathParseSyntaxError},
        // Something other than an identifier where the class belongs.
        {L"1C", WMIPathParseSyntaxError},
        {L"\"C\"", WMIPathParseSyntaxError},
        {L":", WMIPathParseSyntaxError},
        {L":1", WMIPathParseSyntaxError},
    };
    for (const auto& c : cases) {
        std::unique_ptr<WMIParsedObjectPath> parsed = std::make_unique<WMIParsedObjectPath>();
        EXPECT_EQ(Parse(c.text.c_str(), parsed), c.result) << c.text;
        EXPECT_FALSE(parsed) << c.text;
    }
}

TEST(ObjectPathParser, NullPathIsAnInvalidParameter) {
    std::unique_ptr<WMIParsedObjectPath> parsed;
    EXPECT_EQ(Parse(nullptr, parsed), WMIPathParseInvalidParameter);
    EXPECT_FALSE(parsed);
}

// The parser reads up to the terminating NUL and no further.
TEST(ObjectPathParser, StopsAtTheTerminatingNul) {
    const wchar_t text[] = L"C.k=1\0garbage";
    std::unique_ptr<WMIParsedObjectPath> parsed;
    ASSERT_EQ(Parse(text, parsed), WMIPathParseNoError);
    EXPECT_EQ(*parsed, MakePath({{}, {}, L"C", {{L"k", VT_I4, 1}}}));
}

// Copies of a parsed path own their own key values.
TEST(ObjectPathParser, ParsedPathCopiesOwnTheirValues) {
    std::unique_ptr<WMIParsedObjectPath> parsed;
    ASSERT_EQ(Parse(L"C.k=\"value\"", parsed), WMIPathParseNoError);
    WMIParsedObjectPath copy = *parsed;
    EXPECT_NE(copy.keys[0].Value().bstrVal, parsed->keys[0].Value().bstrVal);
    parsed.reset();
    EXPECT_EQ(copy, MakePath({{}, {}, L"C", {{L"k", VT_BSTR, 0, L"value"}}}));
}

}  // namespace
