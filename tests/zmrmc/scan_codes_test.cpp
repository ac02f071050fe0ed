#include "scan_codes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Codes = std::vector<unsigned char>;

struct Result {
    bool ok;
    Codes codes;
    const char* error;
};

Result Tagged(const char* text, int capacity = 256) {
    std::vector<unsigned char> buffer(static_cast<size_t>(capacity) + 8, 0xAA);
    const char* error = nullptr;
    bool ok = zmrmc::TaggedPasswordToScanCodes(text, buffer.data(), capacity, &error);
    Codes codes;
    for (size_t i = 0; ok && buffer[i] != 0; ++i) codes.push_back(buffer[i]);
    for (size_t i = static_cast<size_t>(capacity); i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], 0xAA) << "wrote beyond the capacity for " << text;
    return {ok, codes, error};
}

// The conversions users rely on, including every spelling the password tags allow.
TEST(TaggedPassword, ConvertsBothTagForms) {
    struct Case {
        const char* text;
        Codes expected;
    } cases[] = {
        {"<en-US/>abc", {0x1E, 0x30, 0x2E}},
        {"<EN-us />ABC", {0x1E, 0x30, 0x2E}},
        {"<en-US/>1<KEYPAD 1>2", {0x02, 0x4F, 0x03}},
        {"<en-US/>A<SPACE BAR>B", {0x1E, 0x39, 0x30}},
        {"<en-US/>A< >B", {0x1E, 0x39, 0x30}},
        {"<en-US/>!1aA", {0x02, 0x02, 0x1E, 0x1E}},
        {"<en-US/><keypad *>", {0x37}},
        {"<kbd/>1E 30 2E", {0x1E, 0x30, 0x2E}},
        {"<kbd/>1e302e", {0x1E, 0x30, 0x2E}},
        {"<kbd/>1\n E", {0x1E}},   // blanks may split the two digits of a byte
        {"<kbd/>9E", {0x1E}},      // bit 7 (shift) is cleared
        {"<kbd/>1E0030", {0x1E}},  // a zero byte ends the result
        {"  <kbd/>1E30 \r\n", {0x1E, 0x30}},
        {"<kbd, ignored text/>1E", {0x1E}},
        {"<kbd/>", {}},
        {"<en-US/>", {}},
    };
    for (const auto& c : cases) {
        Result r = Tagged(c.text);
        EXPECT_TRUE(r.ok) << c.text;
        EXPECT_EQ(r.codes, c.expected) << c.text;
    }
}

TEST(TaggedPassword, ErrorsPointIntoTheCallersText) {
    struct Case {
        const char* text;
        int error_offset;  // -1: the error position is left alone
    } cases[] = {
        {"<en-US/>A B", 9},                     // a plain space is not a key
        {"<kbd/>1G", 7},    {"  <kbd/>1G", 9},  // offsets count from the caller's text, leading blanks included
        {"<kbd/>1E3", -1},                      // odd number of digits
        {"<en-US/>a/b", 9}, {"<en-US/><KEYPAD 10>", 8}, {"<other/>1E", -1},
    };
    for (const auto& c : cases) {
        Result r = Tagged(c.text);
        EXPECT_FALSE(r.ok) << c.text;
        if (c.error_offset < 0)
            EXPECT_EQ(r.error, nullptr) << c.text;
        else
            EXPECT_EQ(r.error, c.text + c.error_offset) << c.text;
    }
}

TEST(TaggedPassword, UntaggedTextLeavesOutputAndErrorPositionAlone) {
    for (const char* text : {"secret", "<no closing tag", "", "   "}) {
        unsigned char codes[8] = {7, 7, 7, 7, 7, 7, 7, 7};
        const char* error = "sentinel";
        EXPECT_FALSE(zmrmc::TaggedPasswordToScanCodes(text, codes, sizeof codes, &error)) << text;
        EXPECT_STREQ(error, "sentinel");
        EXPECT_EQ(codes[0], 7);
    }
    EXPECT_FALSE(zmrmc::TaggedPasswordToScanCodes(nullptr, nullptr, 0, nullptr));
}

TEST(TaggedPassword, NeverWritesBeyondTheCapacity) {
    EXPECT_TRUE(Tagged("<kbd/>1E30", 3).ok);  // two codes and the terminator fit exactly
    EXPECT_FALSE(Tagged("<kbd/>1E30", 2).ok);
    EXPECT_FALSE(Tagged("<kbd/>1E30", 0).ok);
    EXPECT_FALSE(Tagged("<en-US/>abc", 1).ok);
    EXPECT_TRUE(Tagged("<en-US/>", 1).ok);
}

TEST(KeyText, ConvertsOnlyInModeZero) {
    const char text[] = "ab";
    unsigned char codes[3] = {9, 9, 9};
    const char* error = nullptr;
    EXPECT_FALSE(zmrmc::KeyTextToScanCodes(1, text, codes, &error));
    EXPECT_EQ(error, text);
    EXPECT_EQ(codes[0], 0);
    EXPECT_TRUE(zmrmc::KeyTextToScanCodes(0, text, codes, &error));
    EXPECT_EQ(error, nullptr);
    EXPECT_EQ(codes[0], 0x1E);
    EXPECT_EQ(codes[1], 0x30);
    EXPECT_EQ(codes[2], 0);
    EXPECT_TRUE(zmrmc::KeyTextToScanCodes(0, "", codes, nullptr));
    EXPECT_EQ(codes[0], 0);
}

TEST(KeyText, UnknownCharactersFailWithTheirPosition) {
    struct Case {
        const char* text;
        int offset;
    } cases[] = {{"a b", 1}, {"ab?", 2}, {"x{", 1},    {"~", 0},         {"\"", 0},
                 {"<", 0},   {"a>", 1},  {"a\xe9", 1}, {"<SPACE BAR", 0}};
    for (const auto& c : cases) {
        unsigned char codes[16] = {5};
        const char* error = nullptr;
        EXPECT_FALSE(zmrmc::KeyTextToScanCodes(0, c.text, codes, &error)) << c.text;
        EXPECT_EQ(codes[0], 0) << c.text;
        EXPECT_EQ(error, c.text + c.offset) << c.text;
    }
}

// Every key of the table converts to its code; each printable key once through its own token.
TEST(KeyText, WholeKeyTable) {
    const std::string keys = "1!2@3#4$5%6^7&8*9(0)-_=+QWERTYUIOP[]ASDFGHJKL;'`\\ZXCVBNM,.";
    const Codes expected = {0x02, 0x02, 0x03, 0x03, 0x04, 0x04, 0x05, 0x05, 0x06, 0x06, 0x07, 0x07, 0x08, 0x08, 0x09,
                            0x09, 0x0A, 0x0A, 0x0B, 0x0B, 0x0C, 0x0C, 0x0D, 0x0D, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15,
                            0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1E, 0x1F, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26,
                            0x27, 0x28, 0x29, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F, 0x30, 0x31, 0x32, 0x33, 0x34};
    std::vector<unsigned char> codes(keys.size() + 1);
    ASSERT_TRUE(zmrmc::KeyTextToScanCodes(0, keys.c_str(), codes.data(), nullptr));
    EXPECT_EQ(Codes(codes.begin(), codes.end() - 1), expected);
    const char* pads =
        "<KEYPAD 7><KEYPAD 8><KEYPAD 9><KEYPAD -><KEYPAD 4><KEYPAD 5><KEYPAD 6><KEYPAD +>"
        "<KEYPAD 1><KEYPAD 2><KEYPAD 3><KEYPAD 0><KEYPAD .>";
    std::vector<unsigned char> pad_codes(std::strlen(pads) + 1);
    ASSERT_TRUE(zmrmc::KeyTextToScanCodes(0, pads, pad_codes.data(), nullptr));
    EXPECT_EQ(Codes(pad_codes.begin(), pad_codes.begin() + 13),
              (Codes{0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x51, 0x52, 0x53}));
}

}  // namespace
