// Tokens of MOF text: identifiers, literals, aliases and punctuation, with the line each starts on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv::wbem::mof {

enum class TokenKind { End, Identifier, String, Char, Integer, Real, Alias, Punct };

struct Token {
    TokenKind kind = TokenKind::End;
    std::wstring text;       // identifier or alias name (without $), decoded string, punctuation character
    uint64_t magnitude = 0;  // integers: absolute value
    bool negative = false;   // integers: written with a leading minus
    double real = 0;         // reals
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
