#include "oleauto.h"

#include <gtest/gtest.h>

namespace {

TEST(Bstr, LengthPrefixAndEmbeddedNuls) {
    BSTR text = SysAllocStringLen(L"a\0b", 3);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 3u);
    EXPECT_EQ(SysStringByteLen(text), 3 * sizeof(OLECHAR));
    EXPECT_EQ(text[3], L'\0');
    EXPECT_EQ(text[1], L'\0');
    SysFreeString(text);

    BSTR bytes = SysAllocStringByteLen("abc", 3);  // odd byte counts keep their length
    EXPECT_EQ(SysStringByteLen(bytes), 3u);
    EXPECT_EQ(SysStringLen(bytes), 0u);
    SysFreeString(bytes);
}

TEST(Bstr, NullCountsAsEmpty) {
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
    BSTR empty = SysAllocStringLen(nullptr, 4);  // room for 4 characters, zero-filled
    EXPECT_EQ(SysStringLen(empty), 4u);
    EXPECT_EQ(empty[0], L'\0');
    SysFreeString(empty);
}

TEST(Bstr, ReAllocReplacesAndFreesTheOld) {
    BSTR text = SysAllocString(L"old");
    ASSERT_TRUE(SysReAllocString(&text, L"newer text"));
    EXPECT_STREQ(text, L"newer text");
    EXPECT_EQ(SysStringLen(text), 10u);
    SysFreeString(text);
}

}  // namespace
