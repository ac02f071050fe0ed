#include "windows.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Lower-casing follows Unicode, not the process locale (the tests run with LC_ALL=C).
TEST(CharacterCase, LowersTextInPlace) {
    std::wstring text = L"SELECT \u00c9T\u00c9 FROM \u0391\u0392 _x9";
    EXPECT_EQ(CharLowerW(text.data()), text.data());
    EXPECT_EQ(text, L"select \u00e9t\u00e9 from \u03b1\u03b2 _x9");
}

TEST(CharacterCase, SingleCharacterTravelsInThePointer) {
    auto lower = [](wchar_t c) {
        return static_cast<wchar_t>(
            reinterpret_cast<ULONG_PTR>(CharLowerW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(c)))));
    };
    EXPECT_EQ(lower(L'Q'), L'q');
    EXPECT_EQ(lower(L'\u00c9'), L'\u00e9');
    EXPECT_EQ(lower(L'7'), L'7');
}

TEST(CharacterCase, BufferFormCoversEmbeddedNuls) {
    std::wstring text(L"AB\0CD", 5);
    EXPECT_EQ(CharLowerBuffW(text.data(), 4), 4u);
    EXPECT_EQ(text, std::wstring(L"ab\0cD", 5));
}

}  // namespace
