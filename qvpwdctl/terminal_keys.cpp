#include "terminal_keys.h"

#include "winuser.h"

namespace qvpwdctl {
namespace {

using Kind = TerminalKey::Kind;

TerminalKey Simple(Kind kind, unsigned vk = 0) {
    TerminalKey key;
    key.kind = kind;
    key.vk = vk;
    return key;
}

TerminalKey Character(unsigned char c) {
    DWORD scan = OemKeyScan(c);
    if (scan == 0xFFFFFFFF) return Simple(Kind::kRefused);
    TerminalKey key = Simple(Kind::kCharacter, c == 0x08 ? VK_BACK : 0);
    key.character = static_cast<wchar_t>(c);
    key.stroke.scan_code = static_cast<uint8_t>(scan & 0xFF);
    key.stroke.shift = (scan & 0x10000) != 0;
    return key;
}

// The key of a finished control sequence: its parameter text and final character.
TerminalKey SequenceKey(std::string_view parameters, char final) {
    switch (final) {
    case 'A': return Simple(Kind::kCaretKey, VK_UP);
    case 'B': return Simple(Kind::kCaretKey, VK_DOWN);
    case 'C': return Simple(Kind::kCaretKey, VK_RIGHT);
    case 'D': return Simple(Kind::kCaretKey, VK_LEFT);
    case 'H': return Simple(Kind::kCaretKey, VK_HOME);
    case 'F': return Simple(Kind::kCaretKey, VK_END);
    case '~': {
        std::string_view number = parameters.substr(0, parameters.find(';'));
        if (number == "1" || number == "7") return Simple(Kind::kCaretKey, VK_HOME);
        if (number == "4" || number == "8") return Simple(Kind::kCaretKey, VK_END);
        if (number == "3") return Simple(Kind::kCaretKey, VK_DELETE);
        return Simple(Kind::kIgnored);
    }
    default: return Simple(Kind::kIgnored);
    }
}

}  // namespace

std::optional<DecodedKey> DecodeTerminalKey(std::string_view input, bool complete) {
    if (input.empty()) return std::nullopt;
    auto c = static_cast<unsigned char>(input[0]);
    if (c == 0x1B) {
        if (input.size() == 1) {
            if (!complete) return std::nullopt;
            return DecodedKey{Simple(Kind::kCancel), 1};
        }
        char introducer = input[1];
        if (introducer != '[' && introducer != 'O') return DecodedKey{Simple(Kind::kIgnored), 2};  // Alt with a key
        // Parameters (0x30-0x3F), intermediates (0x20-0x2F), then the final character (0x40-0x7E).
        size_t at = 2;
        while (at < input.size() && static_cast<unsigned char>(input[at]) >= 0x20 &&
               static_cast<unsigned char>(input[at]) <= 0x3F)
            ++at;
        if (at == input.size()) {
            if (!complete) return std::nullopt;
            return DecodedKey{Simple(Kind::kIgnored), at};
        }
        auto final = static_cast<unsigned char>(input[at]);
        if (final < 0x40 || final > 0x7E) return DecodedKey{Simple(Kind::kIgnored), at};
        return DecodedKey{SequenceKey(input.substr(2, at - 2), static_cast<char>(final)), at + 1};
    }
    if (c == '\r' || c == '\n') return DecodedKey{Simple(Kind::kAccept), 1};
    if (c == 0x03) return DecodedKey{Simple(Kind::kCancel), 1};
    if (c == '\t') return DecodedKey{Simple(Kind::kIgnored), 1};
    if (c == 0x7F) return DecodedKey{Character(0x08), 1};
    if (c < 0x80) return DecodedKey{Character(c), 1};
    // A character beyond ASCII: its UTF-8 sequence is one key that the layout does not have.
    size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (input.size() < length && !complete) return std::nullopt;
    size_t used = 1;
    while (used < length && used < input.size() && (static_cast<unsigned char>(input[used]) & 0xC0) == 0x80) ++used;
    return DecodedKey{Simple(Kind::kRefused), used};
}

}  // namespace qvpwdctl
