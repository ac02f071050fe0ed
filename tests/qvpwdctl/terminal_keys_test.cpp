// The keys of a terminal: characters back to the US English keys that type them, and escape sequences.

#include "terminal_keys.h"
#include "winuser.h"

#include <gtest/gtest.h>

namespace {

using Kind = qvpwdctl::TerminalKey::Kind;

TEST(OemKeyScan, UsEnglishKeys) {
    const struct {
        WORD character;
        DWORD scan;
    } cases[] = {
        {'a', 0x1E},     {'A', 0x1001E},     {'1', 0x02},        {'!', 0x10002}, {'0', 0x0B},  {')', 0x1000B},
        {'-', 0x0C},     {'_', 0x1000C},     {'=', 0x0D},        {'+', 0x1000D}, {'q', 0x10},  {'P', 0x10019},
        {'[', 0x1A},     {'}', 0x1001B},     {';', 0x27},        {':', 0x10027}, {'\'', 0x28}, {'"', 0x10028},
        {'`', 0x29},     {'~', 0x10029},     {'\\', 0x2B},       {'|', 0x1002B}, {'z', 0x2C},  {'m', 0x32},
        {',', 0x33},     {'<', 0x10033},     {'.', 0x34},        {'>', 0x10034}, {'/', 0x35},  {'?', 0x10035},
        {' ', 0x39},     {'\b', 0x0E},       {'\t', 0x0F},       {'\r', 0x1C},   {0x1B, 0x01}, {0x01, 0x2001E},
        {0x1A, 0x2002C}, {0xE9, 0xFFFFFFFF}, {0x7F, 0xFFFFFFFF},
    };
    for (const auto& c : cases) EXPECT_EQ(OemKeyScan(c.character), c.scan) << c.character;
}

TEST(TerminalKeys, Decoding) {
    const struct {
        const char* input;
        bool complete;
        Kind kind;
        unsigned vk;
        uint8_t scan;
        bool shift;
        size_t used;
    } cases[] = {
        {"a", false, Kind::kCharacter, 0, 0x1E, false, 1},
        {"A", false, Kind::kCharacter, 0, 0x1E, true, 1},
        {"?", false, Kind::kCharacter, 0, 0x35, true, 1},
        {"\x7f", false, Kind::kCharacter, VK_BACK, 0x0E, false, 1},
        {"\b", false, Kind::kCharacter, VK_BACK, 0x0E, false, 1},
        {"\x04", false, Kind::kCharacter, 0, 0x20, false, 1},
        {"\r", false, Kind::kAccept, 0, 0, false, 1},
        {"\n", false, Kind::kAccept, 0, 0, false, 1},
        {"\x03", false, Kind::kCancel, 0, 0, false, 1},
        {"\t", false, Kind::kIgnored, 0, 0, false, 1},
        {"\x1b", true, Kind::kCancel, 0, 0, false, 1},
        {"\x1b[D", false, Kind::kCaretKey, VK_LEFT, 0, false, 3},
        {"\x1b[C", false, Kind::kCaretKey, VK_RIGHT, 0, false, 3},
        {"\x1bOA", false, Kind::kCaretKey, VK_UP, 0, false, 3},
        {"\x1b[1;5B", false, Kind::kCaretKey, VK_DOWN, 0, false, 6},
        {"\x1b[H", false, Kind::kCaretKey, VK_HOME, 0, false, 3},
        {"\x1b[4~", false, Kind::kCaretKey, VK_END, 0, false, 4},
        {"\x1b[3~x", false, Kind::kCaretKey, VK_DELETE, 0, false, 4},
        {"\x1b[15~", false, Kind::kIgnored, 0, 0, false, 5},
        {"\x1b"
         "a",
         false, Kind::kIgnored, 0, 0, false, 2},
        {"\xc3\xa9", false, Kind::kRefused, 0, 0, false, 2},
        {"\xe2\x82\xac!", false, Kind::kRefused, 0, 0, false, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        auto key = qvpwdctl::DecodeTerminalKey(c.input, c.complete);
        ASSERT_TRUE(key.has_value());
        EXPECT_EQ(key->key.kind, c.kind);
        EXPECT_EQ(key->key.vk, c.vk);
        EXPECT_EQ(key->key.stroke.scan_code, c.scan);
        EXPECT_EQ(key->key.stroke.shift, c.shift);
        EXPECT_EQ(key->used, c.used);
    }
}

TEST(TerminalKeys, UnfinishedInputWaitsForMore) {
    for (const char* input : {"", "\x1b", "\x1b[", "\x1b[1;5", "\xe2\x82"})
        EXPECT_FALSE(qvpwdctl::DecodeTerminalKey(input, false).has_value()) << input;
    EXPECT_FALSE(qvpwdctl::DecodeTerminalKey("", true).has_value());
    auto rest = qvpwdctl::DecodeTerminalKey("\x1b[1;5", true);
    ASSERT_TRUE(rest.has_value());
    EXPECT_EQ(rest->key.kind, Kind::kIgnored);
}

}  // namespace
