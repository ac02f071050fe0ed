// Tokens of MOF text: identifiers, literals, aliases and punctuation, with the line each starts on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv::wbem::mof {

enum class TokenKind { End, Identifier, String, Char, Integer, Real, Alias, Punct };

// Integers are decimal (12), octal (014), hexadecimal (0xC) or binary (1100b), each with an optional sign;
// one whose magnitude needs more than 64 bits is refused here. Reals keep their text: how a real literal
// rounds depends on the type it is assigned to (real32 or real64), which only the compiler knows.
struct Token {
    TokenKind kind = TokenKind::End;
    std::wstring text;       // identifier or alias name (without $), decoded string, punctuation character,
                             // the literal of a real as written (sign included)
    uint64_t magnitude = 0;  // integers: absolute value; chars: the character
    bool negative = false;   // integers: written with a leading minus
    int line = 0;
};

struct LexError {
    int line = 0;
    std::string reason;
};

// Splits `text` into tokens (ending with one End token). Comments (// and /* */) are skipped. Adjacent
// string literals stay separate tokens; the parser joins them. False with *error on the first bad token.
bool Tokenize(const std::wstring& text, std::vector<Token>* tokens, LexError* error);

}  // namespace qv::wbem::mof
