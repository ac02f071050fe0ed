// The object path lexer: characters fall into classes, and a transition table indexed by state and class says
// whether to take the character into the token, skip it, end the token or fail.

#include "WMIObjectPathLexer.h"

#include <array>
#include <cstdint>
#include <initializer_list>

namespace {

enum CharClass : uint8_t {
    kEnd,
    kLetter,     // letters other than a-f and x, "_", U+0080 and above
    kHexLetter,  // a-f, A-F
    kX,          // x, X
    kZero,
    kDigit,  // 1-9
    kMinus,
    kDoubleQuote,
    kSingleQuote,
    kBackslash,
    kSlash,
    kEquals,
    kDot,
    kAt,
    kComma,
    kColon,
    kLineBreak,  // line feed, carriage return
    kOther,      // anything else, white space included
    kClassCount
};

enum State : uint8_t {
    kStart,
    kIdentifier,
    kLeadingZero,  // "0": a lone zero, a decimal number or the start of "0x"
    kDecimal,
    kHex,
    kDoubleQuoted,
    kDoubleQuotedEscape,  // after a backslash inside double quotes
    kSingleQuoted,
    kStateCount
};

enum Action : uint8_t {
    kTake,         // append the character to the token, move on, go to `next`
    kSkip,         // move on without appending, go to `next`
    kEmit,         // the token ends before this character
    kTakeAndEmit,  // the token is this character
    kSkipAndEmit,  // the token ends with this character, which is not part of its text (closing quote)
    kFail,         // the character cannot continue: error token
};

struct Transition {
    Action action = kFail;
    State next = kStart;
    WMIPathToken token = WMIPathTokenError;
};

using Table = std::array<std::array<Transition, kClassCount>, kStateCount>;

constexpr Table BuildTable() {
    Table t{};
    auto fill = [&t](State s, Transition all) {
        for (auto& entry : t[s]) entry = all;
    };
    auto set = [&t](State s, std::initializer_list<CharClass> classes, Transition entry) {
        for (CharClass c : classes) t[s][c] = entry;
    };
    const std::initializer_list<CharClass> kIdentifierStart = {kLetter, kHexLetter, kX};
    const std::initializer_list<CharClass> kIdentifierPart = {kLetter, kHexLetter, kX, kZero, kDigit};

    fill(kStart, {kFail, kStart, WMIPathTokenError});
    set(kStart, {kEnd}, {kEmit, kStart, WMIPathTokenEnd});
    set(kStart, kIdentifierStart, {kTake, kIdentifier});
    set(kStart, {kZero}, {kTake, kLeadingZero});
    set(kStart, {kDigit, kMinus}, {kTake, kDecimal});
    set(kStart, {kDoubleQuote}, {kSkip, kDoubleQuoted});
    set(kStart, {kSingleQuote}, {kSkip, kSingleQuoted});
    set(kStart, {kBackslash, kSlash}, {kTakeAndEmit, kStart, WMIPathTokenBackslash});
    set(kStart, {kEquals}, {kTakeAndEmit, kStart, WMIPathTokenEquals});
    set(kStart, {kDot}, {kTakeAndEmit, kStart, WMIPathTokenDot});
    set(kStart, {kAt}, {kTakeAndEmit, kStart, WMIPathTokenAt});
    set(kStart, {kComma}, {kTakeAndEmit, kStart, WMIPathTokenComma});
    set(kStart, {kColon}, {kTakeAndEmit, kStart, WMIPathTokenColon});

    fill(kIdentifier, {kEmit, kStart, WMIPathTokenIdentifier});
    set(kIdentifier, kIdentifierPart, {kTake, kIdentifier});

    fill(kLeadingZero, {kEmit, kStart, WMIPathTokenInteger});
    set(kLeadingZero, {kZero, kDigit}, {kTake, kDecimal});
    set(kLeadingZero, {kX}, {kTake, kHex});

    fill(kDecimal, {kEmit, kStart, WMIPathTokenInteger});
    set(kDecimal, {kZero, kDigit}, {kTake, kDecimal});

    fill(kHex, {kEmit, kStart, WMIPathTokenHexInteger});
    set(kHex, {kZero, kDigit, kHexLetter}, {kTake, kHex});

    fill(kDoubleQuoted, {kTake, kDoubleQuoted});
    set(kDoubleQuoted, {kEnd}, {kFail, kStart, WMIPathTokenError});
    set(kDoubleQuoted, {kDoubleQuote}, {kSkipAndEmit, kStart, WMIPathTokenString});
    set(kDoubleQuoted, {kBackslash}, {kSkip, kDoubleQuotedEscape});

    fill(kDoubleQuotedEscape, {kFail, kStart, WMIPathTokenError});
    set(kDoubleQuotedEscape, {kBackslash, kDoubleQuote}, {kTake, kDoubleQuoted});

    fill(kSingleQuoted, {kTake, kSingleQuoted});
    set(kSingleQuoted, {kEnd, kLineBreak}, {kFail, kStart, WMIPathTokenError});
    set(kSingleQuoted, {kSingleQuote}, {kSkipAndEmit, kStart, WMIPathTokenString});
    return t;
}

constexpr Table kTransitions = BuildTable();

// No state may move past the terminating NUL: the lexer relies on it to stay inside the text.
constexpr bool EndIsNeverConsumed() {
    for (const auto& row : kTransitions) {
        Action a = row[kEnd].action;
        if (a != kEmit && a != kFail) return false;
    }
    return true;
}
static_assert(EndIsNeverConsumed());

CharClass Classify(wchar_t c) {
    switch (c) {
    case L'\0': return kEnd;
    case L'x':
    case L'X': return kX;
    case L'0': return kZero;
    case L'-': return kMinus;
    case L'"': return kDoubleQuote;
    case L'\'': return kSingleQuote;
    case L'\\': return kBackslash;
    case L'/': return kSlash;
    case L'=': return kEquals;
    case L'.': return kDot;
    case L'@': return kAt;
    case L',': return kComma;
    case L':': return kColon;
    case L'\n':
    case L'\r': return kLineBreak;
    case L'_': return kLetter;
    default: break;
    }
    if ((c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F')) return kHexLetter;
    if ((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z')) return kLetter;
    if (c >= L'1' && c <= L'9') return kDigit;
    // U+0080 to U+FFFD, and the supplementary planes, which a 16-bit wide string carries as surrogates
    // (U+D800 to U+DFFF, inside the range).
    auto code = static_cast<uint32_t>(c);
    if ((code >= 0x80 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF)) return kLetter;
    return kOther;
}

}  // namespace

WMIPathToken WMIObjectPathLexer::Next() {
    if (finished_) {
        tokenText_.clear();
        return last_;
    }
    tokenText_.clear();
    State state = kStart;
    for (;;) {
        wchar_t c = text_[position_];
        const Transition& t = kTransitions[state][Classify(c)];
        WMIPathToken token = t.token;
        switch (t.action) {
        case kTake:
            tokenText_.push_back(c);
            ++position_;
            state = t.next;
            continue;
        case kSkip:
            ++position_;
            state = t.next;
            continue;
        case kEmit: break;
        case kTakeAndEmit:
            tokenText_.push_back(c);
            ++position_;
            break;
        case kSkipAndEmit: ++position_; break;
        case kFail:
            token = WMIPathTokenError;
            tokenText_.clear();
            break;
        }
        if (token == WMIPathTokenEnd || token == WMIPathTokenError) {
            finished_ = true;
            last_ = token;
        }
        return token;
    }
}

bool IsPathIdentifierStart(wchar_t c) {
    CharClass k = Classify(c);
    return k == kLetter || k == kHexLetter || k == kX;
}

bool IsPathIdentifierPart(wchar_t c) {
    CharClass k = Classify(c);
    return IsPathIdentifierStart(c) || k == kZero || k == kDigit;
}
