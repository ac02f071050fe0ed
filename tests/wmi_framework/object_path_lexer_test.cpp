#include "WMIObjectPathLexer.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using Tokens = std::vector<std::pair<WMIPathToken, std::wstring>>;

Tokens Lex(const wchar_t* text) {
    WMIObjectPathLexer lexer(text);
    Tokens tokens;
    for (;;) {
        WMIPathToken token = lexer.Next();
        tokens.emplace_back(token, lexer.Text());
        if (token == WMIPathTokenEnd || token == WMIPathTokenError) return tokens;
    }
}

// Token boundaries and texts, including the quoting rules and what cannot start a token.
TEST(ObjectPathLexer, CutsTextIntoTokens) {
    struct Case {
        const wchar_t* text;
        Tokens tokens;
    } cases[] = {
        {L"C.k=\"v\"",
         {{WMIPathTokenIdentifier, L"C"},
          {WMIPathTokenDot, L"."},
          {WMIPathTokenIdentifier, L"k"},
          {WMIPathTokenEquals, L"="},
          {WMIPathTokenString, L"v"},
          {WMIPathTokenEnd, L""}}},
        {L"\\a/b:c,@",
         {{WMIPathTokenBackslash, L"\\"},
          {WMIPathTokenIdentifier, L"a"},
          {WMIPathTokenBackslash, L"/"},
          {WMIPathTokenIdentifier, L"b"},
          {WMIPathTokenColon, L":"},
          {WMIPathTokenIdentifier, L"c"},
          {WMIPathTokenComma, L","},
          {WMIPathTokenAt, L"@"},
          {WMIPathTokenEnd, L""}}},
        {L"_x9\u00e9\u4e00", {{WMIPathTokenIdentifier, L"_x9\u00e9\u4e00"}, {WMIPathTokenEnd, L""}}},
        {L"0", {{WMIPathTokenInteger, L"0"}, {WMIPathTokenEnd, L""}}},
        {L"007", {{WMIPathTokenInteger, L"007"}, {WMIPathTokenEnd, L""}}},
        {L"-12x", {{WMIPathTokenInteger, L"-12"}, {WMIPathTokenIdentifier, L"x"}, {WMIPathTokenEnd, L""}}},
        {L"0x1fG", {{WMIPathTokenHexInteger, L"0x1f"}, {WMIPathTokenIdentifier, L"G"}, {WMIPathTokenEnd, L""}}},
        {L"0XAB", {{WMIPathTokenHexInteger, L"0XAB"}, {WMIPathTokenEnd, L""}}},
        {L"12.5",
         {{WMIPathTokenInteger, L"12"}, {WMIPathTokenDot, L"."}, {WMIPathTokenInteger, L"5"}, {WMIPathTokenEnd, L""}}},
        // Double quotes: only \\ and \" are escapes.
        {L"\"a\\\\b\\\"c\"", {{WMIPathTokenString, L"a\\b\"c"}, {WMIPathTokenEnd, L""}}},
        {L"\"a\\nb\"", {{WMIPathTokenError, L""}}},
        {L"\"line\nfeed\"", {{WMIPathTokenString, L"line\nfeed"}, {WMIPathTokenEnd, L""}}},
        {L"\"open", {{WMIPathTokenError, L""}}},
        {L"\"ends in escape\\", {{WMIPathTokenError, L""}}},
        // Single quotes: no escapes, no line breaks.
        {L"'a\\b\"c'", {{WMIPathTokenString, L"a\\b\"c"}, {WMIPathTokenEnd, L""}}},
        {L"'a\nb'", {{WMIPathTokenError, L""}}},
        {L"'a\rb'", {{WMIPathTokenError, L""}}},
        {L"'open", {{WMIPathTokenError, L""}}},
        {L"''", {{WMIPathTokenString, L""}, {WMIPathTokenEnd, L""}}},
        // Characters that start no token.
        {L"a b", {{WMIPathTokenIdentifier, L"a"}, {WMIPathTokenError, L""}}},
        {L"\t", {{WMIPathTokenError, L""}}},
        {L"#", {{WMIPathTokenError, L""}}},
        {L"a\uFFFE", {{WMIPathTokenIdentifier, L"a"}, {WMIPathTokenError, L""}}},
        {L"", {{WMIPathTokenEnd, L""}}},
    };
    for (const auto& c : cases) EXPECT_EQ(Lex(c.text), c.tokens) << c.text;
}

// The lexer stops at the end or at an error and stays there.
TEST(ObjectPathLexer, EndAndErrorAreFinal) {
    WMIObjectPathLexer end(L"a");
    EXPECT_EQ(end.Next(), WMIPathTokenIdentifier);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(end.Next(), WMIPathTokenEnd);
    WMIObjectPathLexer error(L" a");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(error.Next(), WMIPathTokenError);
}

}  // namespace
