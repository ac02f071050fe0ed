// The lexer of WMI object paths: a table-driven state machine that cuts a NUL-terminated wide text into
// tokens.
//
// Token texts: an identifier, a number or a punctuation mark is its own characters; a quoted string is its
// content without the quotes, escapes resolved. A character that cannot start a token (white space among
// them), a bad escape, a line break inside single quotes or an unterminated string gives WMIPathTokenError.
#pragma once

#include <cstddef>
#include <string>

enum WMIPathToken : int {
    WMIPathTokenEnd = 0,  // the terminating NUL
    WMIPathTokenError = 1,
    WMIPathTokenIdentifier = 100,  // A-Z, a-z, "_", U+0080-U+FFFD or a supplementary-plane character,
                                   // then those or digits
    WMIPathTokenString = 101,      // "..." with \\ and \" escapes, or '...' without escapes
    WMIPathTokenInteger = 102,     // "-" or 1-9 then digits; 0 then digits; a lone 0
    WMIPathTokenHexInteger = 103,  // "0x" or "0X" then hexadecimal digits
    WMIPathTokenEquals = 104,      // "="
    WMIPathTokenDot = 105,         // "."
    WMIPathTokenAt = 108,          // "@"
    WMIPathTokenComma = 109,       // ","
    WMIPathTokenBackslash = 110,   // "\" or "/"
    WMIPathTokenColon = 111,       // ":"
};

class WMIObjectPathLexer {
public:
    // `text` must stay alive and unchanged while the lexer is used; it is read up to its terminating NUL and
    // never beyond.
    explicit WMIObjectPathLexer(const wchar_t* text) : text_(text) {}

    // Reads the next token; its text is Text() until the next call. After the end or an error every further
    // call returns the same token again.
    WMIPathToken Next();
    const std::wstring& Text() const { return tokenText_; }

private:
    const wchar_t* text_;
    size_t position_ = 0;
    std::wstring tokenText_;
    bool finished_ = false;
    WMIPathToken last_ = WMIPathTokenEnd;
};

// Identifier characters, shared with the formatter so that it writes only names the lexer reads back.
bool IsPathIdentifierStart(wchar_t c);
bool IsPathIdentifierPart(wchar_t c);
